// A file with the given bytes in a temporary folder, removed with the object;
// shared by the file-search tests.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace quarn_test {

class TempFile {
public:
    explicit TempFile(const std::string &bytes,
                      const std::filesystem::path &dir = std::filesystem::temp_directory_path())
    {
        static int counter = 0;
        path_ = dir / ("quarn_file_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++) + ".txt");
        std::ofstream out(path_, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    ~TempFile() { std::filesystem::remove(path_); }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    std::string name() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

} // namespace quarn_test
