// A platform layer over memory for the engine's fuzz target: a handful of named files whose
// bytes the tool "maps" in place and whose image streams read and write a byte vector. A run
// makes no system call, so the fuzzer spends its time in the engine; the saved inputs are
// replayed against the system's platform layer as well.
#include <cstring>
#include <sys/stat.h>

#include "Harness.h"
#include "Plat.h"

namespace {

struct MemFile {
    bool used = false;
    std::string name;
    std::vector<uint8_t> bytes;
};
MemFile files[8];

struct Stream {
    MemFile* file = nullptr;
    size_t pos = 0;
    std::FILE* fp = nullptr;
    bool write = false;
};
Stream streams[3]; // one for each image of a run

MemFile* Find(const char* name) {
    for (MemFile& f : files) {
        if (f.used && f.name == name) return &f;
    }
    return nullptr;
}

MemFile& Make(const std::string& name) {
    if (MemFile* f = Find(name.c_str())) return *f;
    for (MemFile& f : files) {
        if (!f.used) {
            f.used = true;
            f.name = name;
            f.bytes.clear();
            return f;
        }
    }
    HarnessFail("too many memory files");
}

ssize_t StreamRead(void* cookie, char* buf, size_t size) {
    Stream& s = *static_cast<Stream*>(cookie);
    const size_t have = s.pos < s.file->bytes.size() ? s.file->bytes.size() - s.pos : 0;
    const size_t n = size < have ? size : have;
    if (n > 0) std::memcpy(buf, s.file->bytes.data() + s.pos, n);
    s.pos += n;
    return static_cast<ssize_t>(n);
}

ssize_t StreamWrite(void* cookie, const char* buf, size_t size) {
    Stream& s = *static_cast<Stream*>(cookie);
    if (s.file->bytes.size() < s.pos + size) s.file->bytes.resize(s.pos + size);
    std::memcpy(s.file->bytes.data() + s.pos, buf, size);
    s.pos += size;
    return static_cast<ssize_t>(size);
}

int StreamClose(void* cookie) {
    static_cast<Stream*>(cookie)->file = nullptr;
    return 0;
}

} // namespace

// ---- The platform layer -----------------------------------------------------------------

void PlatInit() {}

const char* PlatProgramPath(const char* /*argv0*/) {
    return "vortle";
}

PlatHandle PlatOpenRW(const char* name, bool /*write*/) {
    MemFile* f = Find(name);
    return f == nullptr ? kNoHandle : static_cast<PlatHandle>(f - files);
}

PlatHandle PlatCreateMapping(PlatHandle file, bool /*write*/) {
    return file;
}

int PlatFileStatus(const char* /*name*/, PlatHandle file, PlatStat* status, bool /*write*/) {
    std::memset(status, 0, sizeof *status);
    status->st_mode = S_IFREG | 0644;
    status->st_size = static_cast<off_t>(files[file].bytes.size());
    return 0;
}

// The view is the file's bytes themselves: what the tool stores reaches the file, as through
// a shared mapping. A read-only view is not protected; the harness compares the file instead.
void* PlatMapView(PlatHandle /*mapping*/, PlatHandle file, uint32_t size, bool /*write*/) {
    return size == 0 ? nullptr : files[file].bytes.data();
}

void PlatUnmapView(void* /*view*/, uint32_t /*size*/) {}
void PlatCloseMapping(PlatHandle /*mapping*/) {}
void PlatCloseFile(PlatHandle /*file*/) {}

std::FILE* OpenStream(MemFile* f, bool write) {
    if (f == nullptr) return nullptr;
    if (write) f->bytes.clear();
    for (Stream& s : streams) {
        if (s.file == nullptr) {
            s = Stream{f, 0, nullptr, write};
            static const cookie_io_functions_t io{StreamRead, StreamWrite, nullptr, StreamClose};
            s.fp = fopencookie(&s, write ? "w" : "r", io);
            if (s.fp == nullptr) s.file = nullptr;
            return s.fp;
        }
    }
    return nullptr;
}

std::FILE* PlatReadImage(const char* name) {
    return OpenStream(Find(name), false);
}

// One flat folder: the spot is the name itself, and a temporary file is the name with ".tmp".
PlatKind PlatLocate(const char* name, PlatSpot& spot) {
    spot.dir = kNoHandle;
    std::snprintf(spot.leaf, sizeof spot.leaf, "%s", name);
    return Find(name) != nullptr ? PlatKind::Regular : PlatKind::Absent;
}

void PlatSpotClose(PlatSpot& /*spot*/) {}

std::FILE* PlatOpenDevice(const char* /*name*/) {
    return nullptr;
}

std::FILE* PlatTempCreate(const PlatSpot& spot, char* tmp, size_t cap, bool /*unnamed*/) {
    std::snprintf(tmp, cap, "%s.tmp", spot.leaf);
    return OpenStream(&Make(tmp), true);
}

int PlatTempName(const PlatSpot& /*spot*/, char* /*tmp*/, size_t /*cap*/, std::FILE* /*fp*/) {
    return 0;
}

int PlatTempKeep(const PlatSpot& spot, const char* tmp, std::FILE* /*fp*/) {
    MemFile* t = Find(tmp);
    if (t == nullptr) return -1;
    if (MemFile* old = Find(spot.leaf)) old->used = false;
    t->name = spot.leaf;
    return 0;
}

void PlatUnlinkAt(const PlatSpot& /*spot*/, const char* leaf) {
    PlatRemoveFile(leaf);
}

void PlatOnAbort(void (*)()) {}

void PlatHoldSignals(bool) {}

void PlatOnFault(const char*) {}

void PlatOnFaultOutput(const char*, size_t) {}

int64_t PlatFileSize(PlatHandle file) {
    return static_cast<int64_t>(files[file].bytes.size());
}

int PlatRemoveFile(const char* name) {
    MemFile* f = Find(name);
    if (f == nullptr) return -1;
    f->used = false;
    return 0;
}

int PlatWriteImage(std::FILE* image, PlatHandle /*file*/, uint32_t /*offset*/, const uint8_t* bytes,
                   uint32_t len) {
    if (len > 0) std::fwrite(bytes, 1, len, image);
    return std::ferror(image) != 0 ? -1 : 0;
}

bool PlatImageHole(std::FILE* /*image*/, uint64_t /*len*/) {
    return false;
}

bool PlatStaleImage(const char* image, const char* input) {
    return Find(image) != nullptr && (input == nullptr || std::strcmp(image, input) != 0);
}

bool PlatSameFile(const char* a, const char* b) {
    return a != nullptr && b != nullptr && Find(a) != nullptr && std::strcmp(a, b) == 0;
}

// One flat folder: every name is its own last component, compared as it is.
int PlatFolderOf(const char* /*folder*/, PlatFolder& out) {
    out = {0, 0, false};
    return 0;
}

bool PlatSameLeaf(const char* a, const char* b, bool /*foldsCase*/) {
    return std::strcmp(a, b) == 0;
}

bool PlatStoredExactly(const char* /*folder*/, const char* leaf) {
    return Find(leaf) != nullptr;
}

// ---- The harness's side -----------------------------------------------------------------

namespace {
MemFile* input;
} // namespace

void HarnessPutInput(const std::string& path, const uint8_t* data, size_t size) {
    input = &Make(path);
    input->bytes.assign(data, data + size);
}

const std::vector<uint8_t>& HarnessGetInput(size_t /*size*/) {
    return input->bytes;
}

bool HarnessGetFile(const std::string& path, std::vector<uint8_t>& bytes) {
    const MemFile* f = Find(path.c_str());
    if (f == nullptr) {
        bytes.clear();
        return false;
    }
    bytes = f->bytes;
    return true;
}

void HarnessPutFile(const std::string& path, const uint8_t* data, size_t size) {
    Make(path).bytes.assign(data, data + size);
}

void HarnessRemoveFile(const std::string& path) {
    PlatRemoveFile(path.c_str());
}
