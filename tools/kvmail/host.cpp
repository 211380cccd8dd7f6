#include "host.h"

#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "text.h"

namespace kvmail {

bool ReadFile(const std::string &path, std::string &bytes, std::string &error) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        error = "cannot open '" + path + "'";
        return false;
    }
    std::ostringstream s;
    s << f.rdbuf();
    bytes = s.str();
    return true;
}

namespace {
// A file of dir that did not exist before; -1 with the error when none could be made.
int OpenNewFile(const std::string &dir, const std::string &name, std::string &path, std::string &error) {
    // O_EXCL: never replace a file, nor follow a link someone left there.
    int fd = -1;
    for (unsigned k = 0; fd < 0 && k < 1000; ++k) {
        path = dir + "/" + NumberedName(name, k);
        fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) error = "cannot write '" + path + "': " + std::strerror(errno);
    return fd;
}
} // namespace

bool WriteNewFile(const std::string &dir, const std::string &name, const std::string &bytes, std::string &path,
                  std::string &error) {
    int fd = OpenNewFile(dir, name, path, error);
    if (fd < 0) return false;
    for (size_t done = 0; done < bytes.size();) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = "cannot write '" + path + "': " + std::strerror(n < 0 ? errno : ENOSPC);
            close(fd);
            unlink(path.c_str());
            return false;
        }
        done += size_t(n);
    }
    if (close(fd) != 0) {
        error = "cannot write '" + path + "': " + std::strerror(errno);
        unlink(path.c_str());
        return false;
    }
    return true;
}

namespace {

// A stream over an open file, or over nothing (fd -1: writes are only
// counted): the host's files pass in pieces instead of whole in memory.
class FileStream final : public IStream {
  public:
    explicit FileStream(int fd) : fd_(fd) {}
    FileStream(const FileStream &) = delete;
    FileStream &operator=(const FileStream &) = delete;
    ~FileStream() {
        if (fd_ >= 0) close(fd_);
    }
    uint64_t Written() const { return written_; }
    // Closes the file; false when the system could not write everything.
    bool Close() {
        int fd = fd_;
        fd_ = -1;
        return fd < 0 || close(fd) == 0;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IStream) &&
            !IsEqualIID(riid, IID_ISequentialStream))
            return E_NOINTERFACE;
        *ppv = static_cast<IStream *>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE Read(void *pv, ULONG cb, ULONG *pcbRead) override {
        ULONG done = 0;
        while (fd_ >= 0 && done < cb) {
            ssize_t n = read(fd_, static_cast<char *>(pv) + done, cb - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return E_FAIL;
            if (n == 0) break;
            done += ULONG(n);
        }
        if (pcbRead) *pcbRead = done;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void *pv, ULONG cb, ULONG *pcbWritten) override {
        ULONG done = 0;
        while (fd_ >= 0 && done < cb) {
            ssize_t n = write(fd_, static_cast<const char *>(pv) + done, cb - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return E_FAIL;
            done += ULONG(n);
        }
        if (fd_ < 0) done = cb;
        written_ += done;
        if (pcbWritten) *pcbWritten = done;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER *newPosition) override {
        if (origin > STREAM_SEEK_END) return E_INVALIDARG;
        off_t at = 0;
        if (fd_ >= 0) {
            at = lseek(fd_, off_t(move.QuadPart),
                       origin == STREAM_SEEK_SET   ? SEEK_SET
                       : origin == STREAM_SEEK_CUR ? SEEK_CUR
                                                   : SEEK_END);
            if (at < 0) return E_FAIL;
        }
        if (newPosition) newPosition->QuadPart = uint64_t(at);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
        return fd_ < 0 || ftruncate(fd_, off_t(size.QuadPart)) == 0 ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream *to, ULARGE_INTEGER cb, ULARGE_INTEGER *pcbRead,
                                     ULARGE_INTEGER *pcbWritten) override {
        if (!to) return E_POINTER;
        std::vector<char> buffer(1 << 20);
        uint64_t read = 0, written = 0;
        HRESULT hr = S_OK;
        while (read < cb.QuadPart) {
            ULONG got = 0;
            hr = Read(buffer.data(), ULONG(std::min<uint64_t>(buffer.size(), cb.QuadPart - read)), &got);
            if (FAILED(hr) || got == 0) break;
            read += got;
            ULONG put = 0;
            hr = to->Write(buffer.data(), got, &put);
            written += put;
            if (FAILED(hr)) break;
            if (put != got) {
                hr = STG_E_MEDIUMFULL;
                break;
            }
        }
        if (pcbRead) pcbRead->QuadPart = read;
        if (pcbWritten) pcbWritten->QuadPart = written;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG *stat, DWORD) override {
        if (!stat) return E_POINTER;
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        struct stat st {};
        if (fd_ >= 0 && fstat(fd_, &st) != 0) return E_FAIL;
        stat->cbSize.QuadPart = fd_ >= 0 ? uint64_t(st.st_size) : written_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream **) override { return E_NOTIMPL; }

  private:
    int fd_;
    std::atomic<ULONG> refs_{1};
    uint64_t written_ = 0;
};

} // namespace

bool StreamFromFile(const std::string &path, Ptr<IStream> &out, std::string &error) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open '" + path + "'";
        return false;
    }
    out = Ptr<IStream>(new FileStream(fd));
    return true;
}

uint64_t CountWritten(const std::function<HRESULT(IStream *)> &fill, bool &ok) {
    auto *counter = new FileStream(-1);
    Ptr<IStream> hold(counter);
    ok = SUCCEEDED(fill(counter));
    return counter->Written();
}

bool WriteNewFile(const std::string &dir, const std::string &name, const std::function<HRESULT(IStream *)> &fill,
                  std::string &path, uint64_t &size, std::string &error) {
    int fd = OpenNewFile(dir, name, path, error);
    if (fd < 0) return false;
    auto *file = new FileStream(fd);
    Ptr<IStream> hold(file);
    bool filled = SUCCEEDED(fill(file));
    size = file->Written();
    if (!file->Close() || !filled) {
        error = filled ? "cannot write '" + path + "': " + std::strerror(errno) : "cannot write '" + path + "'";
        unlink(path.c_str());
        return false;
    }
    return true;
}

std::vector<std::string> ErrorLines(IKvMailConnection2 *connection, LONG &code) {
    orkv14::Error record = orkv14::LastError(connection);
    code = record.code;
    // Each record line ends in CR LF; one message may hold several lines of its own.
    std::vector<std::string> lines;
    std::istringstream all(record.text);
    for (std::string line; std::getline(all, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

std::string ErrorRecord(IKvMailConnection2 *connection) {
    LONG code = 0;
    std::string record = "error ";
    std::vector<std::string> lines = ErrorLines(connection, code);
    record += std::to_string(code) + ":";
    for (size_t i = 0; i < lines.size(); ++i) record += (i ? "\n  " : " ") + EscapeText(lines[i]);
    return record;
}

std::vector<std::string> Strings(IEnumString *e) {
    std::vector<std::string> out;
    if (!e) return out;
    LPOLESTR item = nullptr;
    ULONG fetched = 0;
    while (e->Next(1, &item, &fetched) == S_OK && fetched == 1) {
        out.push_back(Utf8(item));
        CoTaskMemFree(item);
    }
    return out;
}

} // namespace kvmail
