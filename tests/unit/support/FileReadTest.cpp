// Reads take regular files of a bounded size only: anything else reads like a damaged file, at once.
#include "support/FileRead.hpp"

#include "config/ConfigurationError.hpp"
#include "config/ConfigurationStore.hpp"

#include "ScratchDirectory.hpp"
#include "TestFiles.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(FileRead, FifoDeviceAndHugeFileReadLikeDamage) {
    for (const char* kind : {"huge", "fifo", "device"}) {
        ScratchDirectory dir;
        std::filesystem::path path = dir / "config.json";
        if (kind == std::string("fifo")) {
            ::mkfifo(path.c_str(), 0644);
        } else if (kind == std::string("device")) {
            std::filesystem::create_symlink("/dev/zero", path);
        } else {
            writeFile(path, "");
            std::filesystem::resize_file(path, 64u << 20);
        }
        EXPECT_EQ(FileRead::tryReadAll(path), std::nullopt) << kind;
        try {
            ConfigurationStore(path).load();
            ADD_FAILURE() << kind << " loaded";
        } catch (const ConfigurationError& error) {
            EXPECT_EQ(error.message(), "Konfigurationsdatei ist leer oder ungültig: " + path.string())
                << kind;
        }
    }
}

} // namespace
