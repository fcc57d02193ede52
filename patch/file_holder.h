// Owns a C runtime stream and closes it exactly once.
#pragma once

#include <cstdio>
#include <utility>

class FileHolder {
  public:
    FileHolder() = default;
    explicit FileHolder(FILE* file) : file_(file) {}
    ~FileHolder() { reset(); }
    FileHolder(FileHolder&& other) noexcept : file_(std::exchange(other.file_, nullptr)) {}
    FileHolder& operator=(FileHolder&& other) noexcept {
        if (this != &other) {
            reset();
            file_ = std::exchange(other.file_, nullptr);
        }
        return *this;
    }
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;

    FILE* get() const { return file_; }
    explicit operator bool() const { return file_ != nullptr; }

    // The result of the close is not examined.
    void reset() {
        if (file_ != nullptr)
            std::fclose(std::exchange(file_, nullptr));
    }

  private:
    FILE* file_ = nullptr;
};
