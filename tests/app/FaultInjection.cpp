// Preloaded into captiomark-cli by tests (LD_PRELOAD) to stop it, or make a call fail, at one of
// the system calls that change names in a folder: creating a file, link, rename, unlink. Nothing
// of it is in the program itself.
//
//   CAPTIOMARK_FAULT_DIR     only calls on paths under this folder count
//   CAPTIOMARK_FAULT_LOG     each counted call is appended as "N call path [path]"; fsync of a
//                            file or folder there as "- fsync path"
//   CAPTIOMARK_FAULT_STEP    the counted call (1-based) at which CAPTIOMARK_FAULT_ACTION happens:
//                            kill-before, kill-after (SIGKILL), interrupt-before (SIGINT), or
//                            plant (a file "planted" is created at CAPTIOMARK_FAULT_PLANT first)
//   CAPTIOMARK_FAULT_FAIL    "call=errno,...": those calls fail with errno, doing nothing
//   CAPTIOMARK_FAULT_NO_ENCODER  "hevc", "av1" or "hevc,av1": libheif answers as a build
//                            without that encoder would (no descriptor, no encoder); its
//                            decoders stay

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <libheif/heif.h>
#include <string>
#include <unistd.h>

namespace {

template <class F> F real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

using OpenFn = int (*)(const char*, int, ...);
using OpenatFn = int (*)(int, const char*, int, ...);

std::atomic<int> g_count{0};

const char* env(const char* name) {
    const char* v = std::getenv(name);
    return v && *v ? v : nullptr;
}

bool inScope(const char* path) {
    const char* dir = env("CAPTIOMARK_FAULT_DIR");
    return dir && path && std::strncmp(path, dir, std::strlen(dir)) == 0;
}

void logLine(const std::string& line) {
    const char* log = env("CAPTIOMARK_FAULT_LOG");
    if (!log)
        return;
    static const OpenFn open = real<OpenFn>("open");
    const int fd = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const std::string text = line + "\n";
    (void)!::write(fd, text.data(), text.size());
    ::close(fd);
}

// The errno a call is to fail with, or 0.
int failureFor(const char* call) {
    const char* spec = env("CAPTIOMARK_FAULT_FAIL");
    if (!spec)
        return 0;
    const std::string s(spec);
    const std::string key = std::string(call) + "=";
    for (size_t at = 0; at < s.size();) {
        const size_t end = std::min(s.find(',', at), s.size());
        const std::string item = s.substr(at, end - at);
        if (item.compare(0, key.size(), key) == 0)
            return std::atoi(item.c_str() + key.size());
        at = end + 1;
    }
    return 0;
}

int stepWanted() {
    const char* v = env("CAPTIOMARK_FAULT_STEP");
    return v ? std::atoi(v) : 0;
}

bool actionIs(const char* what) {
    const char* v = env("CAPTIOMARK_FAULT_ACTION");
    return v && std::strcmp(v, what) == 0;
}

// Before a counted call: logs it and acts when it is the chosen one. Returns its number.
int before(const char* call, const char* a, const char* b = nullptr) {
    const int n = ++g_count;
    logLine(std::to_string(n) + " " + call + " " + a + (b ? std::string(" ") + b : ""));
    if (n != stepWanted())
        return n;
    if (actionIs("kill-before"))
        ::raise(SIGKILL);
    if (actionIs("interrupt-before"))
        ::raise(SIGINT);
    if (actionIs("plant")) {
        if (const char* plant = env("CAPTIOMARK_FAULT_PLANT")) {
            static const OpenFn open = real<OpenFn>("open");
            const int fd = open(plant, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd >= 0) {
                (void)!::write(fd, "planted", 7);
                ::close(fd);
            }
        }
    }
    return n;
}

void after(int n) {
    if (n == stepWanted() && actionIs("kill-after"))
        ::raise(SIGKILL);
}

template <class Call> int counted(const char* name, const char* a, const char* b, Call call) {
    if (!inScope(a) && !inScope(b))
        return call();
    const int n = before(name, a, b);
    const int failure = failureFor(name);
    const int r = failure ? -1 : call();
    const int saved = failure ? failure : errno;
    after(n);
    errno = saved;
    return r;
}

mode_t modeArg(int flags, va_list args) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? mode_t(va_arg(args, int)) : 0;
}

int openCounted(const char* name, const char* path, int flags, mode_t mode,
                int (*call)(const char*, int, mode_t)) {
    if (!(flags & O_CREAT))
        return call(path, flags, mode);
    return counted(name, path, nullptr, [&] { return call(path, flags, mode); });
}

// libheif without some of its encoders.
bool encoderHidden(heif_compression_format format) {
    const char* hidden = env("CAPTIOMARK_FAULT_NO_ENCODER");
    if (!hidden)
        return false;
    const std::string list = std::string(",") + hidden + ",";
    return (format == heif_compression_HEVC && list.find(",hevc,") != std::string::npos) ||
           (format == heif_compression_AV1 && list.find(",av1,") != std::string::npos);
}

} // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArg(flags, args);
    va_end(args);
    static const OpenFn next = real<OpenFn>("open");
    return openCounted("open", path, flags, mode,
                       [](const char* p, int f, mode_t m) { return next(p, f, m); });
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArg(flags, args);
    va_end(args);
    static const OpenFn next = real<OpenFn>("open64");
    return openCounted("open", path, flags, mode,
                       [](const char* p, int f, mode_t m) { return next(p, f, m); });
}

int openat(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArg(flags, args);
    va_end(args);
    static const OpenatFn next = real<OpenatFn>("openat");
    if (!(flags & O_CREAT))
        return next(dirfd, path, flags, mode);
    return counted("open", path, nullptr, [&] { return next(dirfd, path, flags, mode); });
}

int link(const char* from, const char* to) {
    static const auto next = real<int (*)(const char*, const char*)>("link");
    return counted("link", from, to, [&] { return next(from, to); });
}

int linkat(int fromfd, const char* from, int tofd, const char* to, int flags) {
    static const auto next = real<int (*)(int, const char*, int, const char*, int)>("linkat");
    return counted("link", from, to, [&] { return next(fromfd, from, tofd, to, flags); });
}

int rename(const char* from, const char* to) {
    static const auto next = real<int (*)(const char*, const char*)>("rename");
    return counted("rename", from, to, [&] { return next(from, to); });
}

int renameat(int fromfd, const char* from, int tofd, const char* to) {
    static const auto next = real<int (*)(int, const char*, int, const char*)>("renameat");
    return counted("rename", from, to, [&] { return next(fromfd, from, tofd, to); });
}

int renameat2(int fromfd, const char* from, int tofd, const char* to, unsigned flags) {
    static const auto next =
        real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    return counted("renameat2", from, to, [&] { return next(fromfd, from, tofd, to, flags); });
}

int unlink(const char* path) {
    static const auto next = real<int (*)(const char*)>("unlink");
    return counted("unlink", path, nullptr, [&] { return next(path); });
}

int unlinkat(int dirfd, const char* path, int flags) {
    static const auto next = real<int (*)(int, const char*, int)>("unlinkat");
    return counted("unlink", path, nullptr, [&] { return next(dirfd, path, flags); });
}

int fsync(int fd) {
    static const auto next = real<int (*)(int)>("fsync");
    char link[64];
    char target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    if (n > 0) {
        target[n] = 0;
        if (inScope(target))
            logLine(std::string("- fsync ") + target);
    }
    return next(fd);
}

int heif_context_get_encoder_descriptors(heif_context* ctx, heif_compression_format format,
                                         const char* name,
                                         const heif_encoder_descriptor** out, int count) {
    static const auto next =
        real<int (*)(heif_context*, heif_compression_format, const char*,
                     const heif_encoder_descriptor**, int)>("heif_context_get_encoder_descriptors");
    if (encoderHidden(format))
        return 0;
    return next(ctx, format, name, out, count);
}

heif_error heif_context_get_encoder_for_format(heif_context* ctx, heif_compression_format format,
                                               heif_encoder** out) {
    static const auto next =
        real<heif_error (*)(heif_context*, heif_compression_format, heif_encoder**)>(
            "heif_context_get_encoder_for_format");
    if (encoderHidden(format))
        return heif_error{heif_error_Unsupported_filetype, heif_suberror_Unsupported_codec,
                          "no encoder for this format"};
    return next(ctx, format, out);
}

} // extern "C"
