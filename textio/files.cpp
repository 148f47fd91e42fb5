#include "textio/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <span>

#include "base/errors.h"
#include "base/sysio.h"

namespace talvo {

namespace {

constexpr size_t kBlock = size_t{1} << 20;

int open_errno_number(int e) {
    switch (e) {
        case ENOENT:
        case ENOTDIR: return err::NoSuchPath;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
        case ETXTBSY: return err::AccessDenied;
        case EMFILE:
        case ENFILE: return err::TooManyFiles;
        default: return err::BadFileName;
    }
}

int write_errno_number(int e) {
    switch (e) {
        case EACCES:
        case EPERM:
        case EBADF: return err::AccessDenied;
        default: return err::DiskFull;
    }
}

}  // namespace

std::string trim_name(std::string_view name) {
    size_t b = name.find_first_not_of(' ');
    if (b == std::string_view::npos) return {};
    size_t e = name.find_last_not_of(' ');
    return std::string(name.substr(b, e - b + 1));
}

int open_file(const std::string& name, Use use, Opened& out) {
    if (name.empty() || name.find('\0') != std::string::npos) return err::BadFileName;
    struct Attempt {
        int flags;
        bool writable;
    };
    const Attempt attempts[] = {{O_RDWR | O_CREAT, true}, {O_RDONLY, false}, {O_WRONLY | O_CREAT, true}};
    std::span<const Attempt> tries = attempts;
    // A pipe or a device is opened for its one use only: a reader that also
    // held the writing end of a pipe would never see the pipe's end.
    struct stat st;
    const Attempt one_way[] = {use == Use::Read ? Attempt{O_RDONLY, false} : Attempt{O_WRONLY, true}};
    if (stat(name.c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) tries = one_way;
    int last = 0;
    for (const Attempt& a : tries) {
        int fd;
        do {
            fd = ::open(name.c_str(), a.flags | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            last = errno;
            continue;
        }
        if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd);
            last = EISDIR;
            continue;
        }
        out.fd = fd;
        out.writable = a.writable;
        return 0;
    }
    return open_errno_number(last);
}

void InFile::open(std::string_view name) {
    close();
    name_ = trim_name(name);
    Opened o;
    if (int e = open_file(name_, Use::Read, o)) io_error(e, Stmt::Open, name_);
    fd_ = o.fd;
}

void InFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void OutFile::open(std::string_view name) {
    close_quietly();
    name_ = trim_name(name);
    Opened o;
    if (int e = open_file(name_, Use::Write, o)) io_error(e, Stmt::Open, name_);
    fd_ = o.fd;
    writable_ = o.writable;
    cut_ = false;
    buf_.clear();
    starred_ = 0;
    buffers_.starred = 0;
}

void OutFile::start_statement() {
    if (cut_) return;
    cut_ = true;
    if (!writable_) io_error(err::AccessDenied, Stmt::Write, name_);
    // The first write cuts the file at its start: an older file is replaced.
    struct stat st;
    if (fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && ftruncate(fd_, 0) != 0)
        io_error(write_errno_number(errno), Stmt::Write, name_);
}

void OutFile::write(const format::Format& f, std::span<const format::Item> items) {
    start_statement();
    if (int e = format::write(*this, f, items, buffers_)) io_error(e, Stmt::Write, name_);
}

void OutFile::write_text(std::string_view records, bool whole) {
    start_statement();
    buf_.append(records);
    if (whole && buf_.size() >= kBlock) {
        if (int e = flush()) io_error(e, Stmt::Write, name_);
    }
}

void OutFile::record(std::string_view rec, bool line_end) {
    buf_.append(rec);
    if (line_end) buf_.append("\r\n");
    // A long statement goes out block by block, also in its middle.
    if (buf_.size() >= kBlock) flush_now();
}

int OutFile::flush() {
    int e = write_all(fd_, buf_);
    buf_.clear();
    return e ? write_errno_number(e) : 0;
}

void OutFile::flush_now() {
    if (int e = flush_pending()) io_error(e, Stmt::Write, name_);
}

int OutFile::flush_pending() { return fd_ >= 0 ? flush() : 0; }

void OutFile::close() {
    if (fd_ < 0) return;
    int e = flush();
    ::close(fd_);
    fd_ = -1;
    if (e) io_error(e, Stmt::Write, name_);
}

void OutFile::close_quietly() {
    if (fd_ < 0) return;
    flush();
    ::close(fd_);
    fd_ = -1;
}

}  // namespace talvo
