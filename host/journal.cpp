#include "journal.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>
#include <type_traits>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace journal {

namespace {

constexpr char kMagic[8] = {'M', 'I', 'V', 'R', 'A', 'J', '2', '\n'};
// Journals of the version before sound: no sound in the picture; still restored.
constexpr char kSoundlessMagic[8] = {'M', 'I', 'V', 'R', 'A', 'J', '1', '\n'};
constexpr const char* kFileName = "journal";
constexpr const char* kNewFileName = "journal.new";
// Each record: its payload's length, the payload's checksum, the payload.
constexpr size_t kRecordHead = sizeof(uint32_t) + sizeof(uint64_t);
constexpr size_t kStepBytes = 1 + 3 * sizeof(uint32_t);
// The journal's file grows by this much at a time for the edits appended to it.
constexpr size_t kAppendRoom = 1 << 20;
// Appended edits are synced to the disk this long after the first of them, together: an edit
// never waits for the disk, and a burst of edits costs one sync.
constexpr auto kSyncDelay = std::chrono::milliseconds(20);
// No picture of ten slots comes near this; a larger length is a damaged record.
constexpr uint32_t kLargestRecord = 1u << 30;

uint64_t Checksum(const std::vector<uint8_t>& bytes) {
    uint64_t hash = 0xCBF29CE484222325ull; // FNV-1a
    for (const uint8_t b : bytes)
        hash = (hash ^ b) * 0x100000001B3ull;
    return hash;
}

class Encoder {
  public:
    template <typename T> void Put(const T& value) {
        static_assert(std::is_trivially_copyable_v<T>);
        const auto* p = reinterpret_cast<const uint8_t*>(&value);
        bytes.insert(bytes.end(), p, p + sizeof value);
    }
    void PutText(const std::string& text) {
        Put(uint32_t(text.size()));
        bytes.insert(bytes.end(), text.begin(), text.end());
    }
    void PutStream(const StreamImage& stream) {
        Put(stream.info);
        Put(uint32_t(stream.pieces.size()));
        for (const Piece& piece : stream.pieces)
            Put(piece);
    }
    void PutSound(const SoundImage& sound) {
        Put(uint8_t(sound.present));
        Put(sound.format);
        Put(sound.perFrameNum);
        Put(sound.perFrameDen);
        PutStream(sound.stream);
    }
    std::vector<uint8_t> bytes;
};

// Reads what an Encoder wrote; every read is checked against the bytes that are there.
class Decoder {
  public:
    Decoder(const std::vector<uint8_t>& bytes, bool withSound)
        : withSound(withSound), bytes_(bytes) {}
    const bool withSound;
    template <typename T> bool Get(T& value) {
        if (bytes_.size() - at_ < sizeof value) return false;
        std::memcpy(&value, bytes_.data() + at_, sizeof value);
        at_ += sizeof value;
        return true;
    }
    bool GetText(std::string& text) {
        uint32_t size = 0;
        if (!Get(size) || bytes_.size() - at_ < size) return false;
        text.assign(reinterpret_cast<const char*>(bytes_.data() + at_), size);
        at_ += size;
        return true;
    }
    bool GetStream(StreamImage& stream) {
        uint32_t count = 0;
        if (!Get(stream.info) || !Get(count) || count > (bytes_.size() - at_) / sizeof(Piece))
            return false;
        stream.pieces.resize(count);
        for (Piece& piece : stream.pieces)
            if (!Get(piece)) return false;
        return true;
    }
    bool GetSound(SoundImage& sound) {
        if (!withSound) return true;
        uint8_t present = 0;
        if (!Get(present) || !Get(sound.format) || !Get(sound.perFrameNum) ||
            !Get(sound.perFrameDen) || !GetStream(sound.stream))
            return false;
        sound.present = present != 0;
        // A frame lasts a positive number of samples, or the positions make no sense.
        return !sound.present || (sound.perFrameNum > 0 && sound.perFrameDen > 0);
    }
    bool AtEnd() const { return at_ == bytes_.size(); }

  private:
    const std::vector<uint8_t>& bytes_;
    size_t at_ = 0;
};

std::vector<uint8_t> Encode(const Snapshot& snapshot) {
    Encoder out;
    out.Put(uint32_t(snapshot.sources.size()));
    for (const SourceImage& source : snapshot.sources) {
        out.Put(source.id);
        out.Put(uint8_t(source.temporary));
        out.Put(uint8_t(source.decoded));
        out.Put(uint8_t(source.sound));
        out.Put(source.frames);
        out.PutText(source.path);
    }
    out.Put(uint32_t(snapshot.slots.size()));
    for (const SlotImage& slot : snapshot.slots) {
        out.PutStream(slot.stream);
        out.PutSound(slot.sound);
        out.Put(slot.name);
        out.Put(uint8_t(slot.unsaved));
    }
    out.PutStream(snapshot.clipboard);
    out.PutSound(snapshot.clipboardSound);
    out.Put(snapshot.currentSlot);
    out.Put(snapshot.rangeStart);
    out.Put(snapshot.rangeEnd);
    return std::move(out.bytes);
}

bool Decode(const std::vector<uint8_t>& bytes, bool withSound, Snapshot& snapshot) {
    Decoder in(bytes, withSound);
    uint32_t sources = 0, slots = 0;
    if (!in.Get(sources) || sources > bytes.size()) return false;
    snapshot.sources.resize(sources);
    for (SourceImage& source : snapshot.sources) {
        uint8_t temporary = 0, decoded = 0, sound = 0;
        if (!in.Get(source.id) || !in.Get(temporary) || !in.Get(decoded) ||
            (withSound && !in.Get(sound)) || !in.Get(source.frames) || !in.GetText(source.path))
            return false;
        source.temporary = temporary != 0;
        source.decoded = decoded != 0;
        source.sound = sound != 0;
    }
    if (!in.Get(slots) || slots > uint32_t(kMaxSlots)) return false;
    snapshot.slots.resize(slots);
    for (SlotImage& slot : snapshot.slots) {
        uint8_t unsaved = 0;
        if (!in.GetStream(slot.stream) || !in.GetSound(slot.sound) || !in.Get(slot.name) ||
            !in.Get(unsaved))
            return false;
        slot.unsaved = unsaved != 0;
    }
    return in.GetStream(snapshot.clipboard) && in.GetSound(snapshot.clipboardSound) &&
           in.Get(snapshot.currentSlot) && in.Get(snapshot.rangeStart) &&
           in.Get(snapshot.rangeEnd) && in.AtEnd();
}

std::vector<uint8_t> Encode(const Step& step) {
    Encoder out;
    out.bytes.reserve(kRecordHead + kStepBytes);
    out.Put(step.op);
    out.Put(step.rangeStart);
    out.Put(step.rangeEnd);
    out.Put(step.argument);
    return std::move(out.bytes);
}

bool Decode(const std::vector<uint8_t>& bytes, Step& step) {
    Decoder in(bytes, true);
    return in.Get(step.op) && step.op >= Op::Cut && step.op <= Op::Switch &&
           in.Get(step.rangeStart) && in.Get(step.rangeEnd) && in.Get(step.argument) && in.AtEnd();
}

std::vector<uint8_t> Framed(const std::vector<uint8_t>& payload) {
    Encoder out;
    out.Put(uint32_t(payload.size()));
    out.Put(Checksum(payload));
    out.bytes.insert(out.bytes.end(), payload.begin(), payload.end());
    return std::move(out.bytes);
}

// The next whole record's payload from the file; false at its end or at a damaged record.
bool ReadRecord(std::ifstream& file, std::vector<uint8_t>& payload) {
    uint32_t size = 0;
    uint64_t checksum = 0;
    if (!file.read(reinterpret_cast<char*>(&size), sizeof size) ||
        !file.read(reinterpret_cast<char*>(&checksum), sizeof checksum) || size > kLargestRecord)
        return false;
    payload.resize(size);
    return file.read(reinterpret_cast<char*>(payload.data()), size) &&
           Checksum(payload) == checksum;
}

bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += size_t(n);
    }
    return true;
}

// A rename is durable only once the folder holding the name is synced.
void SyncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

fs::path FileIn(const fs::path& folder) {
    return folder / kFileName;
}

std::optional<Contents> Read(const fs::path& folder) {
    std::ifstream file(FileIn(folder), std::ios::binary);
    char magic[sizeof kMagic] = {};
    if (!file.read(magic, sizeof magic)) return std::nullopt;
    const bool withSound = std::memcmp(magic, kMagic, sizeof magic) == 0;
    if (!withSound && std::memcmp(magic, kSoundlessMagic, sizeof magic) != 0) return std::nullopt;
    Contents contents;
    std::vector<uint8_t> payload;
    if (!ReadRecord(file, payload) || !Decode(payload, withSound, contents.snapshot))
        return std::nullopt;
    Step step;
    while (ReadRecord(file, payload) && Decode(payload, step))
        contents.steps.push_back(step);
    return contents;
}

Writer::~Writer() {
    Close();
}

void Writer::Open(const fs::path& folder) {
    Close();
    folder_ = folder;
    syncing_ = std::make_unique<Syncing>();
    syncer_ = std::thread([this] { SyncLoop(); });
}

bool Writer::Checkpoint(const Snapshot& snapshot) {
    if (!IsOpen()) return false;
    std::vector<uint8_t> bytes(std::begin(kMagic), std::end(kMagic));
    const std::vector<uint8_t> record = Framed(Encode(snapshot));
    bytes.insert(bytes.end(), record.begin(), record.end());
    const fs::path fresh = folder_ / kNewFileName;
    // Read and write: the appended edits go through a mapping of the file.
    const int fd = ::open(fresh.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    std::error_code renamed;
    if (WriteAll(fd, bytes) && ::fdatasync(fd) == 0)
        fs::rename(fresh, FileIn(folder_), renamed);
    else
        renamed = std::make_error_code(std::errc::io_error);
    if (renamed) {
        ::close(fd);
        std::error_code ignored;
        fs::remove(fresh, ignored);
        return false;
    }
    SyncFolder(folder_);
    std::lock_guard lock(syncing_->mutex);
    Unmap();
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd; // the renamed file: steps are appended to it
    end_ = bytes.size();
    replayCost_ = 0;
    return true;
}

// Edits are copied into a mapping of the file, not written with a call into the kernel each:
// the mapped pages belong to the file as soon as they are written, a killed process loses
// nothing, and an edit costs a copy of a few bytes.
bool Writer::MakeRoom(size_t bytes) {
    if (fd_ < 0) return false;
    if (end_ + bytes <= capacity_) return true;
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    const size_t capacity = (end_ + bytes + kAppendRoom + page - 1) / page * page;
    Unmap();
    // Blocks are taken now: a mapped page that the disk has no room for would kill the process.
    if (::posix_fallocate(fd_, 0, off_t(capacity)) != 0) return false;
    void* mapped = ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (mapped == MAP_FAILED) return false;
    map_ = static_cast<uint8_t*>(mapped);
    capacity_ = capacity;
    return true;
}

void Writer::Unmap() {
    if (map_) ::munmap(map_, capacity_);
    map_ = nullptr;
    capacity_ = 0;
}

bool Writer::Append(const Step& step) {
    if (!syncing_) return false;
    const std::vector<uint8_t> record = Framed(Encode(step));
    std::lock_guard lock(syncing_->mutex);
    if (!MakeRoom(record.size())) return false;
    std::memcpy(map_ + end_, record.data(), record.size());
    end_ += record.size();
    replayCost_ += step.op == Op::Reverse
                       ? std::max<int64_t>(1, int64_t(step.rangeEnd) - step.rangeStart + 1)
                       : 1;
    if (!syncing_->dirty) syncing_->wake.notify_one();
    syncing_->dirty = true;
    return true;
}

void Writer::Remove() {
    const fs::path folder = folder_;
    Close();
    if (folder.empty()) return;
    std::error_code ignored;
    fs::remove(FileIn(folder), ignored);
    fs::remove(folder / kNewFileName, ignored);
}

void Writer::Close() {
    if (syncing_) {
        {
            std::lock_guard lock(syncing_->mutex);
            syncing_->stopping = true;
            syncing_->wake.notify_one();
        }
        syncer_.join();
        syncing_.reset();
    }
    Unmap();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    replayCost_ = 0;
    folder_.clear();
}

// Syncs appended steps to the disk, as many at a time as arrived meanwhile.
void Writer::SyncLoop() {
    Syncing& shared = *syncing_;
    std::unique_lock lock(shared.mutex);
    for (;;) {
        shared.wake.wait(lock, [&] { return shared.dirty || shared.stopping; });
        if (!shared.dirty) return;
        shared.wake.wait_for(lock, kSyncDelay, [&] { return shared.stopping; });
        shared.dirty = false;
        const int fd = fd_ >= 0 ? ::dup(fd_) : -1;
        lock.unlock();
        if (fd >= 0) {
            ::fdatasync(fd);
            ::close(fd);
        }
        lock.lock();
    }
}

} // namespace journal
