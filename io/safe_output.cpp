#include "io/safe_output.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::FILE* SafeOutput::open(const std::string& name) {
    abandon();
    std::error_code ec;
    fs::path target = name;
    const fs::file_status st = fs::status(target, ec);
    const bool existed = !ec && fs::exists(st);
    if (existed && !fs::is_regular_file(st)) {
        file_ = std::fopen(name.c_str(), "wb");
        return file_;
    }
    if (existed) {
        // The file must be writable, as a truncating open would require; through a
        // symbolic link the linked file is the one replaced.
        std::FILE* probe = std::fopen(name.c_str(), "r+b");
        if (!probe) return nullptr;
        std::fclose(probe);
        fs::path real = fs::canonical(target, ec);
        if (!ec) target = real;
    }
    static unsigned serial = 0;
    std::string hidden = ".";
    hidden += target.filename().string();
    hidden += ".kqtmp";
    const std::string stem = (target.parent_path() / hidden).string();
    for (int attempt = 0; attempt < 100 && !file_; ++attempt) {
        const std::string temp = stem + std::to_string(serial++);
        file_ = std::fopen(temp.c_str(), "wbx");
        if (file_) {
            temp_ = temp;
            target_ = target.string();
        } else if (!fs::exists(temp, ec)) {
            break;  // the folder takes no new files
        }
    }
    if (file_) {
        if (existed) fs::permissions(temp_, st.permissions(), ec);
        return file_;
    }
    file_ = std::fopen(name.c_str(), "wb");
    return file_;
}

bool SafeOutput::commit() {
    if (!file_) return false;
    const bool written = std::fflush(file_) == 0 && !std::ferror(file_);
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (temp_.empty()) return written && closed;
    bool ok = written && closed;
    if (ok) {
        std::error_code ec;
        fs::rename(temp_, target_, ec);
        ok = !ec;
    }
    if (!ok) std::remove(temp_.c_str());
    temp_.clear();
    return ok;
}

void SafeOutput::abandon() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    if (!temp_.empty()) std::remove(temp_.c_str());
    temp_.clear();
}
