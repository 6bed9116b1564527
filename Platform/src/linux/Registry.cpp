#include "Platform/Registry.h"

#include "../RegFile.h"
#include "Platform/FileIo.h"
#include "Platform/Paths.h"
#include "Platform/Text.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_set>
#include <vector>

namespace platform {

// What a handle stands for: a key path below a root. Handles name keys by path rather than pointing into
// the parsed file, because the file is re-read whenever another writer replaced it.
struct RegistryKey {
    int root = 0;
    std::vector<std::string> path;
    REGSAM access = 0;
};

namespace {

namespace fs = std::filesystem;

constexpr int kUserRoot = 0;
constexpr int kMachineRoot = 1;
constexpr std::size_t kMaxKeyNameUnits = 255;
constexpr std::size_t kMaxValueNameUnits = 16383;
// A cached parse is trusted only when the file's modification time lies this far before the parse.
// File times are coarse (one scheduler tick), so a younger file could be replaced by one with the same
// inode number, size and time, which a plain comparison would take for the file already parsed.
constexpr std::int64_t kRacyWindowNs = 2'000'000'000;

RegistryKey gUserRootKey{kUserRoot, {}, KEY_ALL_ACCESS};
RegistryKey gMachineRootKey{kMachineRoot, {}, KEY_ALL_ACCESS};

} // namespace

const HKEY HKEY_CURRENT_USER = &gUserRootKey;
const HKEY HKEY_LOCAL_MACHINE = &gMachineRootKey;

namespace {

struct Signature {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t mtimeNs = 0;

    bool operator==(const Signature&) const = default;
};

struct CacheEntry {
    Signature signature;
    std::int64_t parsedAtNs = 0;
    std::shared_ptr<const reg::Document> doc;
};

// Process-wide state. Never destroyed, so that registry calls from other static destructors stay safe.
struct State {
    std::mutex handleMutex;
    std::unordered_set<const RegistryKey*> handles;

    std::mutex cacheMutex;
    std::map<std::string, CacheEntry> cache;
    std::set<std::string> reportedDamage;

    // Serialises changes between the threads of this process; the flock serialises processes.
    // Recursive so that changes made inside RegWithLock do not lock again.
    std::recursive_mutex writeMutex;
};

State& GetState() {
    static State* state = new State;
    return *state;
}

const std::shared_ptr<const reg::Document>& EmptyDocument() {
    static const auto* empty = new std::shared_ptr<const reg::Document>(std::make_shared<reg::Document>());
    return *empty;
}

std::int64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

Signature SignatureOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size,
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

std::string_view RootName(int root) {
    return root == kUserRoot ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

fs::path RootFile(int root) {
    const char* fileName = root == kUserRoot ? "user.reg" : "machine.reg";
    const char* dir = std::getenv("QUELLWAVE_REGISTRY_DIR");
    if (dir != nullptr && *dir != '\0') {
        return fs::path(dir) / fileName;
    }
    if (root == kMachineRoot) {
        return "/etc/quellwave/machine.reg";
    }
    const fs::path config = ConfigDir();
    return config.empty() ? fs::path{} : config / "quellwave" / fileName;
}

// ---- Handles -------------------------------------------------------------------------------------------

// Copies what the handle stands for, so that a handle closed by another thread meanwhile is never touched.
bool GetHandle(HKEY key, RegistryKey& out) {
    if (key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE) {
        out = *key;
        return true;
    }
    State& state = GetState();
    std::lock_guard lock(state.handleMutex);
    if (key == nullptr || state.handles.count(key) == 0) {
        return false;
    }
    out = *key;
    return true;
}

HKEY NewHandle(int root, std::vector<std::string> path, REGSAM access) {
    auto key = std::make_unique<RegistryKey>(RegistryKey{root, std::move(path), access});
    State& state = GetState();
    std::lock_guard lock(state.handleMutex);
    state.handles.insert(key.get());
    return key.release();
}

bool IsValidName(std::string_view name, std::size_t maxUnits) {
    if (name.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos || !IsValidUtf8(name)) {
        return false;
    }
    return Utf8ToUtf16(name).size() <= maxUnits;
}

// Splits a backslash path into key names. One trailing backslash is tolerated (a path formed from an
// empty last part); empty names elsewhere are not.
LONG SplitSubKey(std::string_view subKey, const RegistryKey& base, std::vector<std::string>& full) {
    full = base.path;
    if (!subKey.empty() && subKey.back() == '\\') {
        subKey.remove_suffix(1);
    }
    if (subKey.empty()) {
        return ERROR_SUCCESS;
    }
    while (true) {
        const std::size_t slash = subKey.find('\\');
        const std::string_view part = subKey.substr(0, slash);
        if (part.empty() || !IsValidName(part, kMaxKeyNameUnits)) {
            return ERROR_INVALID_PARAMETER;
        }
        full.emplace_back(part);
        if (full.size() > reg::kMaxKeyDepth) {
            return ERROR_INVALID_PARAMETER;
        }
        if (slash == std::string_view::npos) {
            return ERROR_SUCCESS;
        }
        subKey.remove_prefix(slash + 1);
    }
}

// ---- Reading and writing the file ----------------------------------------------------------------------

enum class LoadState { Missing, Ok, Damaged, Unreadable };

struct LoadResult {
    LoadState state = LoadState::Missing;
    std::shared_ptr<reg::Document> doc = std::make_shared<reg::Document>();
    Signature signature;
};

void ReportDamage(const fs::path& file, const Signature& signature, const reg::ParseError& error) {
    State& state = GetState();
    const std::string id = file.string() + '|' + std::to_string(signature.inode) + '|' +
                           std::to_string(signature.size) + '|' + std::to_string(signature.mtimeNs);
    {
        std::lock_guard lock(state.cacheMutex);
        if (!state.reportedDamage.insert(id).second) {
            return;
        }
    }
    std::fprintf(stderr,
                 "quellwave: registry file %s is damaged at line %zu (%s); it reads as empty and is left "
                 "as it is until it is mended\n",
                 file.c_str(), error.line, error.reason.c_str());
}

LoadResult LoadFile(const fs::path& file) {
    LoadResult result;
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.state = (errno == ENOENT || errno == ENOTDIR) ? LoadState::Missing : LoadState::Unreadable;
        return result;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        result.state = LoadState::Unreadable;
        return result;
    }
    result.signature = SignatureOf(st);
    std::string bytes;
    bool readFailed = false;
    if (static_cast<std::uint64_t>(st.st_size) <= reg::kMaxFileBytes) {
        bytes.resize(static_cast<std::size_t>(st.st_size));
        const std::int64_t got = ReadFully(fd, bytes.data(), bytes.size());
        readFailed = got < 0;
        bytes.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
    }
    close(fd);
    if (readFailed) {
        result.state = LoadState::Unreadable;
        return result;
    }
    if (st.st_size == 0) {
        // A file emptied by hand (or made with touch) is an empty registry, not a damaged one.
        result.state = LoadState::Ok;
        return result;
    }
    reg::ParseError error;
    if (static_cast<std::uint64_t>(st.st_size) > reg::kMaxFileBytes) {
        error = {1, "file larger than 64 MiB"};
    } else if (reg::ParseDocument(bytes, *result.doc, error)) {
        result.state = LoadState::Ok;
        return result;
    }
    ReportDamage(file, result.signature, error);
    result.state = LoadState::Damaged;
    result.doc = std::make_shared<reg::Document>();
    return result;
}

// The root's document as the file holds it now; an empty one when the file is missing, unreadable or
// damaged.
std::shared_ptr<const reg::Document> Snapshot(int root) {
    const fs::path file = RootFile(root);
    if (file.empty()) {
        return EmptyDocument();
    }
    struct stat st {};
    if (stat(file.c_str(), &st) != 0) {
        return EmptyDocument();
    }
    const Signature signature = SignatureOf(st);
    State& state = GetState();
    {
        std::lock_guard lock(state.cacheMutex);
        const auto it = state.cache.find(file.string());
        if (it != state.cache.end() && it->second.signature == signature &&
            signature.mtimeNs + kRacyWindowNs < it->second.parsedAtNs) {
            return it->second.doc;
        }
    }
    const std::int64_t parsedAt = NowNs();
    LoadResult loaded = LoadFile(file);
    if (loaded.state == LoadState::Missing || loaded.state == LoadState::Unreadable) {
        return EmptyDocument();
    }
    std::shared_ptr<const reg::Document> doc = std::move(loaded.doc);
    std::lock_guard lock(state.cacheMutex);
    if (state.cache.size() > 32) {
        state.cache.clear();
    }
    state.cache[file.string()] = CacheEntry{loaded.signature, parsedAt, doc};
    return doc;
}

// Holds a root's exclusive lock: the process-wide write mutex and a flock on "<file>.lock". Nested
// instances for the same file in one thread share the first one's flock.
class RootLock {
public:
    explicit RootLock(const fs::path& file) : file_(file.string()) {
        State& state = GetState();
        state.writeMutex.lock();
        for (HeldLock& held : tHeld) {
            if (held.file == file_) {
                ++held.depth;
                ok_ = true;
                return;
            }
        }
        std::error_code ec;
        fs::create_directories(file.parent_path(), ec);
        const std::string lockName = file_ + ".lock";
        int fd = open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EACCES) {
            // A lock file made by another user can still be locked through a read-only descriptor.
            fd = open(lockName.c_str(), O_RDONLY | O_CLOEXEC);
        }
        if (fd < 0) {
            state.writeMutex.unlock();
            return;
        }
        while (flock(fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                close(fd);
                state.writeMutex.unlock();
                return;
            }
        }
        tHeld.push_back({file_, fd, 1});
        ok_ = true;
    }

    ~RootLock() {
        if (!ok_) {
            return;
        }
        for (auto it = tHeld.begin(); it != tHeld.end(); ++it) {
            if (it->file == file_) {
                if (--it->depth == 0) {
                    close(it->fd);
                    tHeld.erase(it);
                }
                break;
            }
        }
        GetState().writeMutex.unlock();
    }

    RootLock(const RootLock&) = delete;
    RootLock& operator=(const RootLock&) = delete;

    bool Ok() const noexcept { return ok_; }

private:
    struct HeldLock {
        std::string file;
        int fd;
        int depth;
    };
    static thread_local std::vector<HeldLock> tHeld;

    std::string file_;
    bool ok_ = false;
};

thread_local std::vector<RootLock::HeldLock> RootLock::tHeld;

// Writes a temporary file beside the target, makes it durable and renames it over the target, so that
// readers see either the old file or the new one in full.
bool WriteAtomically(const fs::path& file, int root, std::string_view text, Signature& signature) {
    mode_t mode = root == kUserRoot ? 0600 : 0644;
    struct stat old {};
    if (stat(file.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    }
    std::string temp = file.string() + ".XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    const bool written = WriteFully(fd, text.data(), text.size()) && fchmod(fd, mode) == 0 &&
                         fsync(fd) == 0 && fstat(fd, &st) == 0;
    const bool closed = close(fd) == 0;
    if (!written || !closed || rename(temp.c_str(), file.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    signature = SignatureOf(st);
    const int dirFd = open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}

// Applies a change to the root under its exclusive lock: reads the file afresh (another process may have
// replaced it), lets change edit the tree and, when it reports a change, writes the file anew.
// change: LONG(reg::Key& rootKey, bool& changed).
template <class Change> LONG Modify(int root, Change&& change) {
    const fs::path file = RootFile(root);
    if (file.empty()) {
        return ERROR_ACCESS_DENIED;
    }
    RootLock lock(file);
    if (!lock.Ok()) {
        return ERROR_ACCESS_DENIED;
    }
    LoadResult loaded = LoadFile(file);
    if (loaded.state == LoadState::Unreadable) {
        // Never replace a file whose contents we could not see.
        return ERROR_ACCESS_DENIED;
    }
    if (loaded.state == LoadState::Damaged) {
        // Nor one we could not understand: it is most likely hand-written with a slip, and rewriting it
        // would drop everything it holds.
        return ERROR_BADDB;
    }
    bool changed = false;
    const LONG result = change(loaded.doc->GetRoot(RootName(root)), changed);
    if (result != ERROR_SUCCESS || !changed) {
        return result;
    }
    const std::string text = reg::WriteDocument(*loaded.doc);
    if (text.size() > reg::kMaxFileBytes) {
        return ERROR_OUTOFMEMORY;
    }
    const std::int64_t writtenAt = NowNs();
    Signature signature;
    if (!WriteAtomically(file, root, text, signature)) {
        return ERROR_ACCESS_DENIED;
    }
    State& state = GetState();
    std::lock_guard cacheLock(state.cacheMutex);
    state.cache[file.string()] = CacheEntry{signature, writtenAt, std::move(loaded.doc)};
    return ERROR_SUCCESS;
}

// ---- Tree look-up --------------------------------------------------------------------------------------

const reg::Key* Resolve(const reg::Document& doc, int root, const std::vector<std::string>& path) {
    static const reg::Key* emptyRoot = new reg::Key("");
    const reg::Key* key = doc.FindRoot(RootName(root));
    if (key == nullptr) {
        return path.empty() ? emptyRoot : nullptr;
    }
    for (const std::string& name : path) {
        key = key->FindSubKey(name);
        if (key == nullptr) {
            return nullptr;
        }
    }
    return key;
}

reg::Key* Resolve(reg::Key& rootKey, const std::vector<std::string>& path, std::size_t count) {
    reg::Key* key = &rootKey;
    for (std::size_t i = 0; i < count && key != nullptr; ++i) {
        key = key->FindSubKey(path[i]);
    }
    return key;
}

// A handle's key as the current file holds it: the handle's record, the file's snapshot and the key in it.
struct KeyRead {
    RegistryKey info;
    std::shared_ptr<const reg::Document> doc;
    const reg::Key* key = nullptr;
};

// The key a handle stands for in the current file, or an error for a bad or deleted handle.
LONG OpenForRead(HKEY handle, KeyRead& read) {
    if (!GetHandle(handle, read.info)) {
        return ERROR_INVALID_HANDLE;
    }
    read.doc = Snapshot(read.info.root);
    read.key = Resolve(*read.doc, read.info.root, read.info.path);
    return read.key == nullptr ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

// OpenForRead for a reader of a value's data: a buffer for the data needs its size.
LONG OpenForValueRead(HKEY handle, const BYTE* data, const DWORD* dataSize, KeyRead& read) {
    if (data != nullptr && dataSize == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return OpenForRead(handle, read);
}

DWORD Utf16Length(std::string_view utf8) {
    return static_cast<DWORD>(Utf8ToUtf16(utf8).size());
}

LONG CopyData(const reg::Value& value, DWORD* type, BYTE* data, DWORD* dataSize) {
    if (type != nullptr) {
        *type = value.type;
    }
    const auto size = static_cast<DWORD>(value.data.size());
    if (data != nullptr && *dataSize < size) {
        *dataSize = size;
        return ERROR_MORE_DATA;
    }
    if (data != nullptr && size > 0) {
        std::memcpy(data, value.data.data(), size);
    }
    if (dataSize != nullptr) {
        *dataSize = size;
    }
    return ERROR_SUCCESS;
}

LONG CopyName(const std::string& source, std::string* name, DWORD* nameChars) {
    const DWORD length = Utf16Length(source);
    LONG result = ERROR_SUCCESS;
    if (name != nullptr) {
        if (nameChars != nullptr && *nameChars < length + 1) {
            result = ERROR_MORE_DATA;
        } else {
            *name = source;
        }
    }
    if (nameChars != nullptr) {
        *nameChars = length;
    }
    return result;
}

constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

// The start of opening or creating a sub-key: the base key read, and the sub-key's full path split into
// names below the root.
struct SubKeyRequest : KeyRead {
    std::vector<std::string> path;
};
// Checks and clears *result first: the handle stays null on every failure.
LONG OpenSubKeyRequest(HKEY root, std::string_view subKey, HKEY* result, SubKeyRequest& request) {
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    if (const LONG status = OpenForRead(root, request); status != ERROR_SUCCESS) {
        return status;
    }
    if (SplitSubKey(subKey, request.info, request.path) != ERROR_SUCCESS) {
        return ERROR_INVALID_PARAMETER;
    }
    return ERROR_SUCCESS;
}

// A change to the values of the key a handle stands for: change gets the key in the file and says whether
// it changed anything, under the file's lock (Modify). Needs KEY_SET_VALUE; a key deleted since the handle
// was opened is ERROR_KEY_DELETED.
template <typename Change> LONG ModifyValues(HKEY handle, Change&& change) {
    RegistryKey info;
    if (!GetHandle(handle, info)) {
        return ERROR_INVALID_HANDLE;
    }
    if ((info.access & KEY_SET_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    return Modify(info.root, [&](reg::Key& rootKey, bool& changed) {
        reg::Key* node = Resolve(rootKey, info.path, info.path.size());
        if (node == nullptr) {
            return ERROR_KEY_DELETED;
        }
        return change(*node, changed);
    });
}

} // namespace

// ---- The interface -------------------------------------------------------------------------------------

LONG RegOpenKeyEx(HKEY root, std::string_view subKey, REGSAM access, HKEY* result) {
    SubKeyRequest request;
    if (const LONG status = OpenSubKeyRequest(root, subKey, result, request); status != ERROR_SUCCESS) {
        return status;
    }
    const reg::Key* key = request.key;
    std::vector<std::string>& path = request.path;
    for (std::size_t i = request.info.path.size(); i < path.size(); ++i) {
        key = key->FindSubKey(path[i]);
        if (key == nullptr) {
            return ERROR_FILE_NOT_FOUND;
        }
        path[i] = key->Name();
    }
    *result = NewHandle(request.info.root, std::move(path), access);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyEx(HKEY root, std::string_view subKey, DWORD /*options*/, REGSAM access, HKEY* result,
                    DWORD* disposition) {
    SubKeyRequest request;
    if (const LONG status = OpenSubKeyRequest(root, subKey, result, request); status != ERROR_SUCCESS) {
        return status;
    }
    const RegistryKey& base = request.info;
    std::vector<std::string>& path = request.path;
    // An existing key opens without a write, so that read-only roots can still be opened this way.
    const reg::Key* existing = Resolve(*request.doc, base.root, path);
    bool created = false;
    if (existing == nullptr) {
        if ((base.access & KEY_CREATE_SUB_KEY) == 0) {
            return ERROR_ACCESS_DENIED;
        }
        const LONG status = Modify(base.root, [&](reg::Key& rootKey, bool& changed) {
            reg::Key* parent = Resolve(rootKey, path, base.path.size());
            if (parent == nullptr) {
                return ERROR_KEY_DELETED;
            }
            for (std::size_t i = base.path.size(); i < path.size(); ++i) {
                bool made = false;
                parent = &parent->CreateSubKey(path[i], &made);
                created = created || made;
            }
            changed = created;
            return ERROR_SUCCESS;
        });
        if (status != ERROR_SUCCESS) {
            return status;
        }
    }
    if (disposition != nullptr) {
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    *result = NewHandle(base.root, std::move(path), access);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (key == nullptr || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE) {
        return ERROR_SUCCESS;
    }
    State& state = GetState();
    {
        std::lock_guard lock(state.handleMutex);
        if (state.handles.erase(key) == 0) {
            return ERROR_INVALID_HANDLE;
        }
    }
    delete key;
    return ERROR_SUCCESS;
}

LONG RegQueryValueEx(HKEY key, std::string_view valueName, DWORD* type, BYTE* data, DWORD* dataSize) {
    KeyRead read;
    if (const LONG status = OpenForValueRead(key, data, dataSize, read); status != ERROR_SUCCESS) {
        return status;
    }
    const reg::Key* node = read.key;
    const reg::Value* value = node->FindValue(valueName);
    if (value == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    return CopyData(*value, type, data, dataSize);
}

LONG RegSetValueEx(HKEY key, std::string_view valueName, DWORD type, const BYTE* data, DWORD dataSize) {
    if ((data == nullptr && dataSize != 0) || !IsValidName(valueName, kMaxValueNameUnits)) {
        return ERROR_INVALID_PARAMETER;
    }
    std::vector<BYTE> bytes(data, data + dataSize);
    return ModifyValues(key, [&](reg::Key& node, bool& changed) {
        changed = node.SetValue(valueName, type, std::move(bytes));
        return ERROR_SUCCESS;
    });
}

LONG RegEnumValue(HKEY key, DWORD index, std::string* name, DWORD* nameChars, DWORD* type, BYTE* data,
                  DWORD* dataSize) {
    KeyRead read;
    if (const LONG status = OpenForValueRead(key, data, dataSize, read); status != ERROR_SUCCESS) {
        return status;
    }
    const reg::Key* node = read.key;
    if (index >= node->Values().size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    const reg::Value& value = node->Values()[index];
    const LONG nameStatus = CopyName(value.name, name, nameChars);
    const LONG dataStatus = CopyData(value, type, data, dataSize);
    return nameStatus != ERROR_SUCCESS ? nameStatus : dataStatus;
}

LONG RegEnumKeyEx(HKEY key, DWORD index, std::string* name, DWORD* nameChars) {
    KeyRead read;
    if (const LONG status = OpenForRead(key, read); status != ERROR_SUCCESS) {
        return status;
    }
    const reg::Key* node = read.key;
    if (index >= node->SubKeys().size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    return CopyName(node->SubKeys()[index]->Name(), name, nameChars);
}

LONG RegQueryInfoKey(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLen, DWORD* values, DWORD* maxValueNameLen,
                     DWORD* maxValueLen) {
    KeyRead read;
    if (const LONG status = OpenForRead(key, read); status != ERROR_SUCCESS) {
        return status;
    }
    const reg::Key* node = read.key;
    DWORD longestKey = 0;
    for (const auto& sub : node->SubKeys()) {
        longestKey = std::max(longestKey, Utf16Length(sub->Name()));
    }
    DWORD longestName = 0;
    DWORD longestData = 0;
    for (const reg::Value& value : node->Values()) {
        longestName = std::max(longestName, Utf16Length(value.name));
        longestData = std::max(longestData, static_cast<DWORD>(value.data.size()));
    }
    if (subKeys != nullptr) {
        *subKeys = static_cast<DWORD>(node->SubKeys().size());
    }
    if (maxSubKeyLen != nullptr) {
        *maxSubKeyLen = longestKey;
    }
    if (values != nullptr) {
        *values = static_cast<DWORD>(node->Values().size());
    }
    if (maxValueNameLen != nullptr) {
        *maxValueNameLen = longestName;
    }
    if (maxValueLen != nullptr) {
        *maxValueLen = longestData;
    }
    return ERROR_SUCCESS;
}

LONG RegDeleteValue(HKEY key, std::string_view valueName) {
    return ModifyValues(key, [&](reg::Key& node, bool& changed) {
        changed = node.DeleteValue(valueName);
        return changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
}

LONG RegDeleteKey(HKEY key, std::string_view subKey) {
    RegistryKey info;
    if (!GetHandle(key, info)) {
        return ERROR_INVALID_HANDLE;
    }
    std::vector<std::string> path;
    if (SplitSubKey(subKey, info, path) != ERROR_SUCCESS || path.size() == info.path.size()) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((info.access & kWriteRights) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    return Modify(info.root, [&](reg::Key& rootKey, bool& changed) {
        if (Resolve(rootKey, info.path, info.path.size()) == nullptr) {
            return ERROR_KEY_DELETED;
        }
        reg::Key* parent = Resolve(rootKey, path, path.size() - 1);
        changed = parent != nullptr && parent->DeleteSubKey(path.back());
        return changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
}

LONG RegFlushKey(HKEY key) {
    KeyRead read;
    return OpenForRead(key, read);
}

LONG RegWithLock(HKEY root, const std::function<LONG()>& fn) {
    if (!fn) {
        return ERROR_INVALID_PARAMETER;
    }
    RegistryKey info;
    if (!GetHandle(root, info)) {
        return ERROR_INVALID_HANDLE;
    }
    const fs::path file = RootFile(info.root);
    if (file.empty()) {
        return ERROR_ACCESS_DENIED;
    }
    RootLock lock(file);
    if (!lock.Ok()) {
        return ERROR_ACCESS_DENIED;
    }
    return fn();
}

std::filesystem::path RegistryFilePath(HKEY root) {
    RegistryKey info;
    if (!GetHandle(root, info)) {
        return {};
    }
    return RootFile(info.root);
}

} // namespace platform
