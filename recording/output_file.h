#pragma once

#include <cstdint>
#include <string>
#include <string_view>


namespace korvanel {

// A recording file being written. A write either goes in whole or the file
// is cut back to where it was before, so a file never ends in a partial unit.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { close(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates (or replaces) the file for writing; false when that fails.
    bool create(const std::string& path);
    // False too once the file was deleted (with its folder, say): every byte
    // after that would be lost unseen.
    bool write(std::string_view bytes);
    // Overwrites bytes already written, at offset from the start.
    bool writeAt(std::uint64_t offset, std::string_view bytes);
    // False when the system reports that the data could not be stored.
    bool close();

    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    std::uint64_t size() const { return size_; }

private:
    bool removed() const;

    int fd_ = -1;
    std::string path_;
    std::uint64_t size_ = 0;
};

}  // namespace korvanel
