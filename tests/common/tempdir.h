// A private temporary directory, removed with everything in it when the
// object goes out of scope.
#pragma once
#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    // Full path of a file inside the directory.
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    // Writes a file inside the directory and returns its full path.
    std::string write(const std::string &name, const std::string &content) const;

private:
    std::string path_;
};

// Reads a whole file; empty when it cannot be read.
std::string read_file(const std::string &path);
