#include "korvex/host/host.h"

#include <dirent.h>
#include <sys/stat.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "korvex/host/profile.h"

namespace korvex::host {

namespace {
HostServices gDefaultServices;
HostServices* gServices = &gDefaultServices;
}  // namespace

HostServices& Host() { return *gServices; }
void SetHost(HostServices* services) { gServices = services ? services : &gDefaultServices; }

int HostServices::MessageBox(const char* text, const char* caption, unsigned) {
    mLastMessage = std::string(caption ? caption : "") + ": " + (text ? text : "");
    return IDOK;
}
long HostServices::SendMessage(std::uintptr_t, unsigned, std::uintptr_t, const char*) { return 0; }

std::uint32_t HostServices::GetTickCount() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void HostServices::Sleep(std::uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// The library asks for the fatal exit with code 0 after its message box; a
// process that ends so must still say why and must not report success.
void HostServices::FatalExit(int code) {
    std::fprintf(stderr, "korvex: fatal exit: %s\n",
                 mLastMessage.empty() ? "no message" : mLastMessage.c_str());
    std::exit(code != 0 ? code : EXIT_FAILURE);
}

void HostServices::FatalAppExit(unsigned, const char* text) {
    std::fprintf(stderr, "korvex: fatal exit: %s\n", text ? text : "no message");
    std::exit(EXIT_FAILURE);
}
void HostServices::MessageBeep(unsigned) {}
void HostServices::UpdateWindow(std::uintptr_t) {}

std::uint32_t HostServices::GetPrivateProfileString(const char* section, const char* key,
                                                    const char* defaultText, char* out,
                                                    std::uint32_t size, const char* fileName) {
    return ReadProfileString(section, key, defaultText, out, size, fileName);
}

bool HostServices::GetFileStamp(const char* path, std::uint32_t& packed) {
    struct stat info {};
    if (!path || ::stat(path, &info) != 0) return false;
    std::tm local{};
    if (!localtime_r(&info.st_mtime, &local)) return false;
    packed = PackStamp(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                       local.tm_min, local.tm_sec);
    return true;
}

int HostServices::ErrorHalt(const char*, const char*, unsigned) { return 0; }
int HostServices::ErrorStop(const char*) { return 0; }
long HostServices::FrameMessage(unsigned, std::uintptr_t, std::intptr_t, const char*) { return 0; }
void HostServices::FrameNotify(unsigned, std::uintptr_t, std::intptr_t, const char*) {}
void HostServices::FrameCommandFollowUp(const char*) {}
void HostServices::FrameCommandEcho(const char*) {}
void HostServices::FrameProtocolLine(const char*, int) {}
void HostServices::ProtocolWriteEntry(int, const char*, const char*) {}
void HostServices::HelloCaption(const char*) {}

std::uint32_t PackStamp(int year, int month, int day, int hour, int minute, int second) {
    const std::uint32_t years = year >= 1980 ? static_cast<std::uint32_t>(year - 1980) : 0;
    return (static_cast<std::uint32_t>(second / 2) & 0x1F) |
           ((static_cast<std::uint32_t>(minute) & 0x3F) << 5) |
           ((static_cast<std::uint32_t>(hour) & 0x1F) << 11) |
           ((static_cast<std::uint32_t>(day) & 0x1F) << 16) |
           ((static_cast<std::uint32_t>(month) & 0x0F) << 21) | ((years & 0x7F) << 25);
}

}  // namespace korvex::host

using korvex::host::Host;

namespace {

// The names in a machine directory, read once for every file a start looks
// for, and read again when the directory's modification time says it
// changed. One listing, the last directory searched: a process runs on one
// machine directory.
struct DirectoryListing {
    std::mutex lock;
    std::string directory;
    dev_t device = 0;
    ino_t inode = 0;
    timespec changed{-1, 0};
    std::vector<std::string> names;
};

DirectoryListing& Listing() {
    static DirectoryListing listing;
    return listing;
}

// The first name of directory that equals wanted without regard to case, in
// directory order as the host's own search answers; empty when none does.
std::string FindInDirectory(const std::string& directory, const std::string& wanted) {
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return {};
    DirectoryListing& listing = Listing();
    std::lock_guard<std::mutex> hold(listing.lock);
    const bool current = listing.changed.tv_sec >= 0 && listing.directory == directory &&
                         listing.device == info.st_dev && listing.inode == info.st_ino &&
                         listing.changed.tv_sec == info.st_mtim.tv_sec &&
                         listing.changed.tv_nsec == info.st_mtim.tv_nsec;
    if (!current) {
        DIR* stream = ::opendir(directory.c_str());
        if (!stream) return {};
        listing.changed = timespec{-1, 0};
        listing.names.clear();
        while (const dirent* entry = ::readdir(stream)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                listing.names.emplace_back(entry->d_name);
        }
        ::closedir(stream);
        // A change within the file system's clock tick (two seconds on FAT)
        // may leave the time as it was; a listing is kept only once the
        // directory has been still for longer, so no later change can hide
        // behind an equal time.
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        if (info.st_mtim.tv_sec + 2 < now.tv_sec) {
            listing.directory = directory;
            listing.device = info.st_dev;
            listing.inode = info.st_ino;
            listing.changed = info.st_mtim;
        }
    }
    for (const std::string& candidate : listing.names)
        if (candidate.size() == wanted.size() &&
            strncasecmp(candidate.c_str(), wanted.c_str(), wanted.size()) == 0)
            return candidate;
    return {};
}

}  // namespace

bool TGlobalData::SearchFileName(char* out, std::size_t outSize, int, const char* name,
                                 const char* extension) {
    if (!out || outSize == 0) return false;
    std::string wanted = name ? name : "";
    if (extension && *extension) {
        wanted += '.';
        wanted += extension;
    }
    const std::string match = FindInDirectory(mMachineDir, wanted);
    const std::string found =
        (std::filesystem::path(mMachineDir) / (match.empty() ? wanted : match)).string();
    StrCopy(out, found.c_str(), outSize);
    return !match.empty() && found.size() < outSize;
}

const char* TGlobalData::GetPfad(int, bool) { return mMachineDir.c_str(); }

void TProtocol::protocolWriteEntry(int code, const char* machineName, const char* line, int, int,
                                   int, int) {
    Host().ProtocolWriteEntry(code, machineName, line);
}

void THelloDialog::SetCaption(const char* caption) {
    mCaption = caption ? caption : "";
    Host().HelloCaption(mCaption.c_str());
}

void THelloDialog::UpdateWindow() { Host().UpdateWindow(0); }

int TApplFrame::MessageBox(const char* text, const char* caption, unsigned style) {
    return Host().MessageBox(text, caption, style);
}
long TApplFrame::frameMessage(unsigned message, std::uintptr_t wparam, std::intptr_t lparam) {
    return Host().FrameMessage(message, wparam, lparam, nullptr);
}
long TApplFrame::frameMessage(unsigned message, std::uintptr_t wparam, const char* text) {
    return Host().FrameMessage(message, wparam, reinterpret_cast<std::intptr_t>(text), text);
}
void TApplFrame::frameNotify(unsigned message, std::uintptr_t wparam, std::intptr_t lparam) {
    Host().FrameNotify(message, wparam, lparam, nullptr);
}
void TApplFrame::frameNotify(unsigned message, std::uintptr_t wparam, const char* text) {
    Host().FrameNotify(message, wparam, reinterpret_cast<std::intptr_t>(text), text);
}
void TApplFrame::frameCommandFollowUp(const char* text) { Host().FrameCommandFollowUp(text); }
void TApplFrame::frameCommandEcho(const char* text) { Host().FrameCommandEcho(text); }
void TApplFrame::frameProtocolLine(const char* line, int code) {
    Host().FrameProtocolLine(line, code);
}

CDebugHandles _gDebugHandles;

const char* _NULLTXT = "";
const char* _SPACETXT = " ";
std::int16_t _UserLevel = 0;
char _QZLev = '3';

int OkMsgBox(OWL::TWindow*, const char* text, const char* caption) {
    return Host().MessageBox(text, caption, MB_OK);
}

int ErrorHalt(const char* text, const char* sourceFile, unsigned line) {
    return Host().ErrorHalt(text, sourceFile, line);
}

int ErrorStop(const char* text) { return Host().ErrorStop(text); }

char* AppendStrich(char* path, std::size_t size) {
    if (!path || size == 0) return path;
    const std::size_t length = std::strlen(path);
    if (length > 0 && (path[length - 1] == '/' || path[length - 1] == '\\')) return path;
    if (length + 1 < size) {
        path[length] = '/';
        path[length + 1] = '\0';
    }
    return path;
}

char* ChangeExtension(char* path, std::size_t size, const char* extension) {
    if (!path || size == 0) return path;
    char* base = path;
    for (char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') base = p + 1;
    if (char* dot = std::strrchr(base, '.')) *dot = '\0';
    const std::size_t length = std::strlen(path);
    if (extension) StrCopy(path + length, extension, size - length);
    return path;
}

char* StrDup(const char* text) {
    if (!text) return nullptr;
    const std::size_t length = std::strlen(text);
    char* copy = new char[length + 1];
    std::memcpy(copy, text, length + 1);
    return copy;
}

char* StrCopy(char* destination, const char* source, std::size_t size) {
    if (!destination || size == 0) return destination;
    std::size_t i = 0;
    if (source)
        for (; i + 1 < size && source[i]; ++i) destination[i] = source[i];
    destination[i] = '\0';
    return destination;
}

std::uint16_t Swap(std::uint16_t value) {
    return static_cast<std::uint16_t>((value >> 8) | (value << 8));
}

std::uint32_t Swap(std::uint32_t value) {
    return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}
