// A scratch home for the fuzz entries that read the game's files: a temporary
// HOME with the game's document directory, made on first use and removed when
// the process ends. Each input starts from an empty document directory.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "ruvezor/util/qel_driver.h"

class FuzzHome {
public:
    // The document directory, emptied; the first call makes it all.
    static std::string fresh_docs() {
        static FuzzHome* home = new FuzzHome();
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(home->docs_, ec))
            std::filesystem::remove_all(e.path(), ec);
        return home->docs_;
    }
    // Replaces the file at path by the bytes.
    static void put(const std::string& path, const std::string& bytes) {
        FILE* f = fopen(path.c_str(), "wb");
        if (!f) abort();
        if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    // The bytes of the file at path, none when it can't be read.
    static std::string get(const std::string& path) {
        std::string s;
        if (FILE* f = fopen(path.c_str(), "rb")) {
            char buf[4096];
            size_t n;
            while ((n = fread(buf, 1, sizeof(buf), f)) > 0) s.append(buf, n);
            fclose(f);
        }
        return s;
    }
    // The directory holding HOME, for checks that nothing was written beside it.
    static std::string root() {
        fresh_docs();
        return root_;
    }

private:
    static inline std::string root_;
    std::string docs_;

    FuzzHome() {
        // In memory where the system offers it: every save of the game syncs
        // its file to disk, which would make the disk the pace of a fuzz run.
        char shm[] = "/dev/shm/z2fuzz-XXXXXX";
        char tmp[] = "/tmp/z2fuzz-XXXXXX";
        const char* made = mkdtemp(shm);
        if (!made) made = mkdtemp(tmp);
        if (!made) abort();
        root_ = made;
        std::filesystem::create_directories(root_ + "/home");
        setenv("HOME", (root_ + "/home").c_str(), 1);
        driver_init(0);
        driver_set_gamename("Zentar 2");
        std::string probe = driver_doc_fname("probe");
        docs_ = probe.substr(0, probe.size() - 5);
        std::filesystem::create_directories(docs_);
        atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(root_, ec);
        });
    }
};
