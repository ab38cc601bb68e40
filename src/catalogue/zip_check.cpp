#include "catalogue/zip_check.hpp"

#include <algorithm>
#include <initializer_list>

#include "base/failure.hpp"

namespace bm {
namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kDescriptorSignature = 0x08074b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::size_t kLocalSize = 30;
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kEndSize = 22;
constexpr std::uint32_t kSaturated = 0xffffffff;

std::uint64_t little(const std::string& bytes, std::size_t at, int size) {
  std::uint64_t value = 0;
  for (int i = size - 1; i >= 0; --i) {
    value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  }
  return value;
}
std::uint16_t le16(const std::string& b, std::size_t at) {
  return static_cast<std::uint16_t>(little(b, at, 2));
}
std::uint32_t le32(const std::string& b, std::size_t at) {
  return static_cast<std::uint32_t>(little(b, at, 4));
}
std::uint64_t le64(const std::string& b, std::size_t at) { return little(b, at, 8); }

// The zip64 extra field, if extra has one, gives 64-bit values for the fields that hold
// 0xffffffff, in their order. Whether it is there.
bool readZip64(const std::string& extra, std::initializer_list<std::uint64_t*> fields) {
  for (std::size_t at = 0; at + 4 <= extra.size();) {
    const std::uint16_t id = le16(extra, at);
    const std::size_t size = le16(extra, at + 2);
    if (id == 0x0001) {
      std::size_t next = at + 4;
      for (std::uint64_t* field : fields) {
        if (*field != kSaturated || next + 8 > at + 4 + size || next + 8 > extra.size()) continue;
        *field = le64(extra, next);
        next += 8;
      }
      return true;
    }
    at += 4 + size;
  }
  return false;
}

std::uint64_t mixed(std::uint64_t x) {  // splitmix64's finaliser
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

// What the central directory must say of a member, in one number.
std::uint64_t fingerprint(const std::string& name, std::uint32_t crc, std::uint64_t compressed,
                          std::uint64_t size, std::uint64_t offset) {
  std::uint64_t h = 1469598103934665603ULL;
  for (const char c : name) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  h = mixed(h ^ crc);
  h = mixed(h ^ compressed);
  h = mixed(h ^ size);
  return mixed(h ^ offset);
}

}  // namespace

ZipCheck::ZipCheck(Inflater& inflater) : inflater_(inflater) {}

bool ZipCheck::collect(const unsigned char*& data, const unsigned char* end, std::size_t wanted) {
  if (header_.empty()) recordAt_ = offset_;
  const std::size_t taken = std::min(wanted - header_.size(), static_cast<std::size_t>(end - data));
  header_.append(reinterpret_cast<const char*>(data), taken);
  data += taken;
  offset_ += taken;
  return header_.size() == wanted;
}

void ZipCheck::feed(const unsigned char* data, std::size_t size) {
  const unsigned char* const end = data + size;
  while (state_ != State::Done && state_ != State::Stopped) {
    if (state_ == State::MemberData) {
      if (sizeKnown_ && memberLeft_ == 0 && member_.data != Data::Deflated) {
        endMemberData();
        continue;
      }
      if (data == end) break;
      feedMember(data, end);
      continue;
    }
    if (state_ == State::Skip) {
      const auto taken = static_cast<std::size_t>(
          std::min<std::uint64_t>(skipLeft_, static_cast<std::uint64_t>(end - data)));
      data += taken;
      offset_ += taken;
      skipLeft_ -= taken;
      if (skipLeft_ > 0) break;
      state_ = afterSkip_;
      continue;
    }
    if (!collect(data, end, wanted_)) break;
    dispatch();
  }
}

void ZipCheck::dispatch() {
  switch (state_) {
    case State::Signature:
      onSignature();
      break;
    case State::LocalHeader:
      wanted_ = kLocalSize + le16(header_, 26) + le16(header_, 28);
      state_ = State::LocalNames;
      break;
    case State::LocalNames:
      onLocalNames();
      break;
    case State::Descriptor:
      onDescriptor();
      break;
    case State::CentralHeader:
      wanted_ = kCentralSize + le16(header_, 28) + le16(header_, 30) + le16(header_, 32);
      state_ = State::CentralNames;
      break;
    case State::CentralNames:
      onCentralNames();
      break;
    case State::Zip64End:
      onZip64End();
      break;
    case State::Zip64Locator:
      nextRecord();
      break;
    case State::EndHeader:
      onEndHeader();
      break;
    default:
      break;
  }
}

void ZipCheck::nextRecord() {
  header_.clear();
  wanted_ = 4;
  state_ = State::Signature;
}

void ZipCheck::onSignature() {
  const std::uint32_t signature = le32(header_, 0);
  if (signature == kLocalSignature && !centralSeen_) {
    state_ = State::LocalHeader;
    wanted_ = kLocalSize;
  } else if (signature == kCentralSignature && !centralEnded_) {
    if (!centralSeen_) centralStart_ = recordAt_;
    centralSeen_ = true;
    state_ = State::CentralHeader;
    wanted_ = kCentralSize;
  } else if (signature == kZip64EndSignature || signature == kEndSignature) {
    if (!centralSeen_) centralStart_ = recordAt_;
    if (!centralEnded_) centralEnd_ = recordAt_;
    centralSeen_ = centralEnded_ = true;
    state_ = signature == kEndSignature ? State::EndHeader : State::Zip64End;
    wanted_ = signature == kEndSignature ? kEndSize : kZip64EndSize;
  } else if (signature == kZip64LocatorSignature && centralEnded_) {
    state_ = State::Zip64Locator;
    wanted_ = kZip64LocatorSize;
  } else {
    incomplete("estrutura de zip inválida no byte " + std::to_string(recordAt_));
  }
}

void ZipCheck::onLocalNames() {
  const std::uint16_t method = le16(header_, 8);
  member_ = Member();
  member_.flags = le16(header_, 6);
  member_.crc = le32(header_, 14);
  member_.compressed = le32(header_, 18);
  member_.size = le32(header_, 22);
  member_.offset = recordAt_;
  const std::size_t nameSize = le16(header_, 26);
  member_.name = header_.substr(kLocalSize, nameSize);
  member_.zip64 =
      readZip64(header_.substr(kLocalSize + nameSize), {&member_.size, &member_.compressed});
  member_.descriptor = (member_.flags & 0x8) != 0;
  if ((member_.flags & 0x1) != 0) {
    member_.data = Data::Unchecked;
    unchecked(memberText() + " cifrado", member_.descriptor);
  } else if (method == 8) {
    member_.data = Data::Deflated;
    inflater_.resetRaw();
  } else if (method != 0) {
    member_.data = Data::Unchecked;
    unchecked(memberText() + " comprimido pelo método " + std::to_string(method),
              member_.descriptor);
  }
  // Without its sizes, a member's end is found only by inflating it.
  sizeKnown_ = !member_.descriptor || member_.data != Data::Deflated;
  if (state_ != State::Stopped && sizeKnown_ && member_.descriptor && member_.compressed == 0) {
    unchecked(memberText() + " gravado sem tamanho", true);
  }
  memberLeft_ = member_.compressed;
  streamEnded_ = false;
  header_.clear();
  if (state_ != State::Stopped) state_ = State::MemberData;
}

void ZipCheck::feedMember(const unsigned char*& data, const unsigned char* end) {
  const auto available = static_cast<std::uint64_t>(end - data);
  const auto taken =
      static_cast<std::size_t>(sizeKnown_ ? std::min(memberLeft_, available) : available);
  if (member_.data == Data::Deflated) {
    inflateMember(data, taken);
    return;
  }
  if (member_.data == Data::Stored) {
    member_.crcSeen = static_cast<std::uint32_t>(::crc32_z(member_.crcSeen, data, taken));
    member_.sizeSeen += taken;
  }
  member_.compressedSeen += taken;
  memberLeft_ -= taken;
  data += taken;
  offset_ += taken;
}

void ZipCheck::inflateMember(const unsigned char*& data, std::size_t size) {
  const Inflater::Step step =
      inflater_.inflate(data, size, [this](const unsigned char* out, std::size_t produced) {
        member_.crcSeen = static_cast<std::uint32_t>(::crc32_z(member_.crcSeen, out, produced));
        member_.sizeSeen += produced;
        expanded_ += produced;
        return !overflowed() && expandedWithin();
      });
  const std::size_t consumed = step.consumed;
  data += consumed;
  offset_ += consumed;
  member_.compressedSeen += consumed;
  if (sizeKnown_) memberLeft_ -= consumed;
  // The output before a fault is the same however the input came in pieces, so what it shows
  // is told first: the verdict must not depend on the sizes of the reads.
  if (overflowed()) {
    incomplete("tamanho errado no " + memberText());
  } else if (!expandedWithin()) {
    unchecked(CompletenessCheck::pastTheBound(), true);
  } else if (Inflater::isFault(step.result)) {
    incomplete("dados comprimidos inválidos no " + memberText());
  } else if (step.result == Z_STREAM_END) {
    streamEnded_ = true;
    endMemberData();
  } else if (sizeKnown_ && memberLeft_ == 0) {
    endMemberData();
  }
}

// More came out of the member than its header says it holds.
bool ZipCheck::overflowed() const { return !member_.descriptor && member_.sizeSeen > member_.size; }

bool ZipCheck::expandedWithin() const { return expanded_ <= CompletenessCheck::kMostExpanded; }

void ZipCheck::endMemberData() {
  if (member_.data == Data::Deflated && (!streamEnded_ || (sizeKnown_ && memberLeft_ != 0))) {
    incomplete("tamanho errado no " + memberText());
    return;
  }
  if (member_.descriptor) {
    header_.clear();
    wanted_ = 4;
    descriptorSigned_.reset();
    state_ = State::Descriptor;
    return;
  }
  endMember();
}

// CRC-32 and sizes after the data, with or without a signature of their own.
void ZipCheck::onDescriptor() {
  const std::size_t fields = member_.zip64 ? 20 : 12;
  if (!descriptorSigned_) {
    descriptorSigned_ = le32(header_, 0) == kDescriptorSignature;
    wanted_ = (*descriptorSigned_ ? 4 : 0) + fields;
    return;
  }
  const std::size_t at = *descriptorSigned_ ? 4 : 0;
  member_.crc = le32(header_, at);
  member_.compressed = member_.zip64 ? le64(header_, at + 4) : le32(header_, at + 4);
  member_.size = member_.zip64 ? le64(header_, at + 12) : le32(header_, at + 8);
  endMember();
}

void ZipCheck::endMember() {
  if (member_.data != Data::Unchecked && member_.crcSeen != member_.crc) {
    incomplete("CRC-32 errado no " + memberText());
    return;
  }
  if (member_.compressedSeen != member_.compressed ||
      (member_.data != Data::Unchecked && member_.sizeSeen != member_.size)) {
    incomplete("tamanho errado no " + memberText());
    return;
  }
  membersSum_ +=
      fingerprint(member_.name, member_.crc, member_.compressed, member_.size, member_.offset);
  ++members_;
  nextRecord();
}

void ZipCheck::onCentralNames() {
  std::uint64_t compressed = le32(header_, 20);
  std::uint64_t size = le32(header_, 24);
  std::uint64_t offset = le32(header_, 42);
  const std::size_t nameSize = le16(header_, 28);
  readZip64(header_.substr(kCentralSize + nameSize, le16(header_, 30)),
            {&size, &compressed, &offset});
  entriesSum_ += fingerprint(header_.substr(kCentralSize, nameSize), le32(header_, 16), compressed,
                             size, offset);
  ++entries_;
  nextRecord();
}

void ZipCheck::onZip64End() {
  const std::uint64_t recordSize = le64(header_, 4) + 12;
  zip64_ = {true, le64(header_, 32), le64(header_, 40), le64(header_, 48)};
  if (recordSize < kZip64EndSize) {
    incomplete("estrutura de zip inválida no byte " + std::to_string(recordAt_));
    return;
  }
  skip(recordSize - kZip64EndSize, State::Signature);
}

// The end record against the central directory read and the members met.
void ZipCheck::onEndHeader() {
  std::uint64_t entries = le16(header_, 10);
  std::uint64_t size = le32(header_, 12);
  std::uint64_t offset = le32(header_, 16);
  if (zip64_.present) {
    if (entries == 0xffff) entries = zip64_.entries;
    if (size == kSaturated) size = zip64_.size;
    if (offset == kSaturated) offset = zip64_.offset;
  }
  if (entries != entries_ || entries_ != members_ || entriesSum_ != membersSum_ ||
      offset != centralStart_ || size != centralEnd_ - centralStart_) {
    incomplete("diretório central não confere com os membros");
    return;
  }
  skip(le16(header_, 20), State::Done);
}

void ZipCheck::skip(std::uint64_t bytes, State after) {
  nextRecord();
  skipLeft_ = bytes;
  afterSkip_ = after;
  state_ = State::Skip;
}

void ZipCheck::incomplete(std::string what) {
  verdict_.incomplete = std::move(what);
  state_ = State::Stopped;
}

void ZipCheck::unchecked(std::string what, bool stop) {
  if (uncheckedCount_++ == 0) verdict_.unchecked = std::move(what);
  if (stop) state_ = State::Stopped;
}

std::string ZipCheck::memberText() const {
  constexpr std::size_t kShown = 200;
  return "membro " + quotedText(member_.name.size() > kShown
                                    ? member_.name.substr(0, kShown) + "..."
                                    : member_.name);
}

Completeness ZipCheck::finish() {
  Completeness verdict = std::move(verdict_);
  if (uncheckedCount_ > 1) {
    verdict.unchecked += " (e mais " + std::to_string(uncheckedCount_ - 1) + ")";
  }
  if (state_ == State::Done || state_ == State::Stopped) return verdict;
  if (state_ == State::MemberData || state_ == State::Descriptor) {
    verdict.incomplete = "zip cortado no " + memberText();
  } else {
    verdict.incomplete =
        centralSeen_ ? "zip cortado no diretório central" : "zip cortado: sem o diretório central";
  }
  return verdict;
}

}  // namespace bm
