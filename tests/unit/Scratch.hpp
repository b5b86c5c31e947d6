// A fresh directory for one test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <fstream>
#include <stdlib.h>
#include <string>
#include <unistd.h>

struct Scratch {
    Scratch() {
        std::string name = (std::filesystem::temp_directory_path() / "korvane-unit-XXXXXX").string();
        path = ::mkdtemp(name.data());
    }
    ~Scratch() { std::filesystem::remove_all(path); }
    std::filesystem::path operator/(const std::string& name) const { return path / name; }
    // `text` as the whole file `name`, executable when asked (scripts that stand in for programs).
    std::string write(const std::string& name, const std::string& text, bool executable = false) const {
        std::ofstream(path / name) << text;
        if (executable) {
            std::filesystem::permissions(path / name, std::filesystem::perms::owner_all);
        }
        return (path / name).string();
    }
    std::string read(const std::string& name) const {
        std::ifstream in(path / name);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::filesystem::path path;
};
