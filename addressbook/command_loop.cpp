// The line protocol: one command per line in, one reply ending in a status
// line out. SEARCH and GET arguments are parsed here and handed on.
#include <cstring>

#include "addressbook/extern_book.h"
#include "support/nlib.h"

namespace {

const int LINE_SIZE = 1024;
const char *const NO_RESULT = "-failure no result available.\n";
const char *const NOT_VALID = "-failure not a valid command.\n";

enum {
    CMD_COMMANDS,
    CMD_AVAILABLE,
    CMD_SEARCH_FIELDS,
    CMD_SEARCH,
    CMD_GET,
    CMD_EXIT,
    CMD_QUIT,
    CMD_BYE,
    CMD_COUNT
};

const char *const COMMAND_WORDS[CMD_COUNT] = {"COMMANDS", "AVAILABLE", "SEARCH_FIELDS", "SEARCH",
                                              "GET",      "EXIT",      "QUIT",          "BYE"};

// Cuts text at its first blank: returns what follows it, or null when the
// text holds no blank.
char *cut_at_blank(char *text)
{
    char *blank = strchr(text, ' ');
    if (!blank)
        return nullptr;
    *blank = '\0';
    return blank + 1;
}

// The first record at or after field that the listing shows, or null.
const display_field *next_listed(const display_field *field, int searchable_only)
{
    while (field->name && searchable_only && !field->searchable)
        field++;
    return field->name ? field : nullptr;
}

}  // namespace

void book_list_fields(FILE *out, int searchable_only)
{
    if (!out)
        return;
    int count = 0;
    const display_field *field =
        display_data ? next_listed(display_data, searchable_only) : nullptr;
    while (field) {
        const display_field *following = next_listed(field + 1, searchable_only);
        count++;
        fprintf(out, "%s=%s", field->name, field->type);
        if (following)
            fputc(',', out);
        if (count % 3 == 0)
            fputc('\n', out);
        field = following;
    }
    if (count % 3 != 0)
        fputc('\n', out);
    fprintf(out, "+success %d available.\n", count);
}

namespace {

// SEARCH conjunction range conditions, e.g. "AND 1-0 name=Smith,mail=*@x".
void command_search(FILE *out, char *args)
{
    char *range = args ? cut_at_blank(args) : nullptr;
    char *dash = nullptr;
    if (range) {
        // The range's own dash, not one in a condition after it.
        size_t length = strspn(range, " ");
        length += strcspn(range + length, " ");
        dash = static_cast<char *>(memchr(range, '-', length));
    }
    if (!dash) {
        fputs(NO_RESULT, out);
        return;
    }
    *dash = '\0';
    int from = book_number(range);
    int to = book_number(dash + 1);
    char *conditions = strchr(dash + 1, ' ');
    if (!conditions) {
        fputs(NO_RESULT, out);
        return;
    }
    if (to == 0)
        to = -1;
    if (from == 0)
        from = 1;
    generate_search(out, s_stricmp(args, "AND") == 0, from, to, conditions + 1);
}

// GET coded-dn [ignored text]
void command_get(FILE *out, char *args)
{
    if (!args) {
        fputs(NO_RESULT, out);
        return;
    }
    cut_at_blank(args);
    display_dn(out, args);
}

}  // namespace

int book_command(FILE *out, char *line)
{
    if (!out || !line)
        return 1;
    char *args = cut_at_blank(line);
    int command = 0;
    while (command < CMD_COUNT && s_stricmp(line, COMMAND_WORDS[command]) != 0)
        command++;
    switch (command) {
    case CMD_COMMANDS:
        fputs("COMMANDS,AVAILABLE,SEARCH_FIELDS,SEARCH,GET,EXIT\n"
              "+success 6 commands available.\n",
              out);
        return 1;
    case CMD_AVAILABLE:
    case CMD_SEARCH_FIELDS: book_list_fields(out, command == CMD_SEARCH_FIELDS); return 1;
    case CMD_SEARCH:
    case CMD_GET:
        book_begin_command();
        if (command == CMD_SEARCH)
            command_search(out, args);
        else
            command_get(out, args);
        book_end_command();
        return 1;
    case CMD_EXIT:
    case CMD_QUIT:
    case CMD_BYE: fputs("+success bye.\n", out); return 0;
    default: fputs(NOT_VALID, out); return 1;
    }
}

namespace {

// Reads the next line of in into line: false at the end of input. A line
// whose text (its line end aside) is longer than line holds is read to its
// end and *too_long set: no part of it may be taken for a command, as a
// part the host did not write as one would then be answered too.
bool read_line(FILE *in, char (&line)[LINE_SIZE], bool *too_long)
{
    // fgets ends what it read with a zero octet, in the last place only when
    // it filled the line.
    line[LINE_SIZE - 1] = 'x';
    if (!fgets(line, LINE_SIZE, in))
        return false;
    *too_long = false;
    if (line[LINE_SIZE - 1] == '\0' && line[LINE_SIZE - 2] != '\n')
        for (int c; (c = getc(in)) != EOF && c != '\n';)
            *too_long = *too_long || c != '\r';
    return true;
}

}  // namespace

void book_loop(FILE *in, FILE *out)
{
    if (!in || !out)
        return;
    char line[LINE_SIZE];
    int running = 1;
    bool too_long = false;
    while (running && read_line(in, line, &too_long)) {
        if (too_long) {
            emsg("a command line of more than %d characters: none of it is run", LINE_SIZE - 1);
            fputs(NOT_VALID, out);
        } else {
            size_t end = strlen(line);
            while (end > 0 && (line[end - 1] == '\r' || line[end - 1] == '\n'))
                end--;
            line[end] = '\0';
            running = book_command(out, line);
        }
        fflush(out);
    }
}
