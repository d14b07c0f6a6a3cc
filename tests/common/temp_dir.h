// A fresh temporary directory per test, removed with its content afterwards.
#ifndef KATR_TEST_TEMP_DIR_H
#define KATR_TEST_TEMP_DIR_H

#include <gtest/gtest.h>
#include <string>

class temp_dir_test : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // The directory, '/' separated, without a trailing separator.
    const std::string& dir() const { return dir_; }
    // dir() + "/" + name
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    // Writes a whole file (binary).
    static void write_file(const std::string& path, const std::string& content);
    // Reads a whole file (binary); empty when missing.
    static std::string read_file(const std::string& path);
private:
    std::string dir_;
};

// How often piece occurs in text (overlaps counted).
inline size_t count(const std::string& text, const std::string& piece) {
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
    return n;
}

// A program of the test's working directory as the shell runs it.
inline std::string program(const std::string& name) {
#if defined(_WIN32)
    return name + ".exe";
#else
    return "./" + name;
#endif
}

#endif
