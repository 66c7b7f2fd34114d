// A private temporary directory, removed with all it holds at the end of its
// scope; and reading a whole file (empty when it cannot be read).
#pragma once
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class TempDir {
  public:
    TempDir() : path_((std::filesystem::temp_directory_path() / "eb-test-XXXXXX").string())
    {
        if (!mkdtemp(path_.data())) abort();
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    // Writes a file inside the directory and returns its full path.
    std::string write(const std::string &name, const std::string &content) const
    {
        std::ofstream(file(name), std::ios::binary) << content;
        return file(name);
    }

  private:
    std::string path_;
};

inline std::string read_file(const std::string &path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}
