// Taking file names and paths apart: extensions, last components, directory
// parts and the folding of backslash parent references. Every function but
// point_ext answers in a 512-byte buffer of its own, and each reads its
// input before it writes there, so a result may be handed straight back.
#include <cstring>
#include <string>

#include "support/nlib.h"

namespace {

const int PATH_SIZE = 512;

// Removes the characters [from, to) of the text in buf.
void cut_out(char *buf, int from, int to)
{
    std::memmove(buf + from, buf + to, std::strlen(buf + to) + 1);
}

char *none_when_empty(char *buf) { return buf[0] ? buf : nullptr; }

}  // namespace

char *update_path(const char *path)
{
    static char buf[PATH_SIZE];
    lcpy(buf, path ? path : "", PATH_SIZE);

    // "/dir/..\" loses "/dir/..": the parent reference climbs one level.
    char *hit;
    int from = 0;
    while ((hit = std::strstr(buf + from, "..\\")) != nullptr) {
        int dots = (int)(hit - buf);
        from = dots + 2;
        if (dots < 1 || buf[dots - 1] != '/')
            continue;
        for (int k = dots - 2; k >= 0; k--) {
            if (buf[k] == '/') {
                cut_out(buf, k, dots + 2);
                from = k;
                break;
            }
        }
    }
    // "/.\" loses "/.": the current-directory reference vanishes.
    from = 0;
    while ((hit = std::strstr(buf + from, ".\\")) != nullptr) {
        int dot = (int)(hit - buf);
        if (dot >= 1 && buf[dot - 1] == '/') {
            cut_out(buf, dot - 1, dot + 1);
            from = dot - 1;
        } else {
            from = dot + 1;
        }
    }
    return buf;
}

char *attach_ext(const char *name, const char *extension)
{
    static char buf[PATH_SIZE];
    if (!name)
        return nullptr;
    return oom_guard(
        [&] {
            std::string joined = name;
            if (extension && extension[0])
                joined += (extension[0] == '.' ? "" : ".") + std::string(extension);
            lcpy(buf, joined.c_str(), PATH_SIZE);
            return buf[0] == '.' ? nullptr : none_when_empty(buf);
        },
        []() -> char * { return nullptr; });
}

char *strip_ext(const char *name)
{
    static char buf[PATH_SIZE];
    lcpy(buf, name ? name : "", PATH_SIZE);
    char *dot = std::strrchr(buf, '.');
    if (!dot)
        return buf;
    if (dot[1] != '\0') {
        *dot = '\0';
    } else if (dot - buf >= 2 && dot[-1] != '.') {
        // A trailing dot goes only after a real stem: "abc." but not "x.", "abc..".
        *dot = '\0';
    }
    return buf;
}

const char *point_ext(const char *name)
{
    if (!name)
        return nullptr;
    for (const char *p = name + std::strlen(name); p > name;) {
        --p;
        if (*p == '/' || *p == '\\')
            return nullptr;
        if (*p == '.')
            return p;
    }
    return nullptr;
}

char *get_ext(const char *name)
{
    static char buf[PATH_SIZE];
    const char *dot = name ? std::strrchr(name, '.') : nullptr;
    return lcpy(buf, dot ? dot + 1 : "", PATH_SIZE);
}

char *strip_path(const char *path, int drop_ext)
{
    static char buf[PATH_SIZE];
    const char *slash = path ? std::strrchr(path, '/') : nullptr;
    lcpy(buf, slash ? slash + 1 : path ? path : "", PATH_SIZE);
    return drop_ext ? strip_ext(buf) : buf;
}

char *strip_filename(const char *path)
{
    static char buf[PATH_SIZE];
    lcpy(buf, path ? path : "", PATH_SIZE);
    char *slash = std::strrchr(buf, '/');
    if (slash)
        slash[1] = '\0';
    else
        buf[0] = '\0';
    return none_when_empty(buf);
}

char *remove_path(const char *path, int want_name)
{
    static char buf[PATH_SIZE];
    const char *dir = strip_filename(path);
    if (!dir)
        return nullptr;
    lcpy(buf, dir, PATH_SIZE);
    buf[std::strlen(buf) - 1] = '\0';  // the directory part always ends in '/'
    const char *up = want_name ? strip_path(buf, 0) : strip_filename(buf);
    lcpy(buf, up ? up : "", PATH_SIZE);
    return none_when_empty(buf);
}
