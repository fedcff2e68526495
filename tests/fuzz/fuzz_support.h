// Shared pieces of the fuzz targets: a private scratch folder that is the working
// folder of the whole fuzz run, inputs written into it as files, and a clean-up
// between inputs so that no input sees another's files or buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "buffer/image_buffer.h"

namespace fuzz {

// Makes the scratch folder once per process and makes it the working folder.
// (libFuzzer opens its corpus and artifact names after this: pass it absolute ones.)
inline void enter_scratch() {
    static bool done = false;
    if (done) return;
    done = true;
    std::string tmpl = (std::filesystem::temp_directory_path() / "kqfuzz.XXXXXX").string();
    if (!mkdtemp(tmpl.data()) || chdir(tmpl.c_str()) != 0) std::abort();
    std::atexit([] {
        std::error_code ec;
        std::filesystem::path here = std::filesystem::current_path(ec);
        if (!ec && here.filename().string().rfind("kqfuzz.", 0) == 0)
            std::filesystem::remove_all(here, ec);
    });
}

// Writes the bytes as the file `name` of the scratch folder.
inline void put_file(const char* name, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(name, "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
}

// Removes every file of the scratch folder and every buffer.
inline void clean_scratch() {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(".", ec))
        std::filesystem::remove_all(e.path(), ec);
    clear_registry();
}

// Small numbers taken from the front of the input.
struct Bytes {
    const uint8_t* data;
    size_t size;
    int take() {
        if (!size) return 0;
        --size;
        return *data++;
    }
};

}  // namespace fuzz
