#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/completeness.hpp"

namespace bm {

// One zip archive checked from its first byte to its last, in one pass and fixed memory: every
// member's data against its CRC-32 and sizes, then the central directory against the members
// met (their number, names, CRCs, sizes and places, summed so that no list of members is kept)
// and the end record against the central directory. Encrypted members, methods other than
// stored and deflate, and whatever follows a member whose end cannot be found without the
// central directory are not checked: said as such, never as incomplete.
class ZipCheck {
 public:
  explicit ZipCheck(Inflater& inflater);

  void feed(const unsigned char* data, std::size_t size);
  Completeness finish();

 private:
  enum class State {
    Signature,
    LocalHeader,
    LocalNames,
    MemberData,
    Descriptor,
    CentralHeader,
    CentralNames,
    Zip64End,
    Zip64Locator,
    EndHeader,
    Skip,
    Done,
    Stopped
  };
  enum class Data { Stored, Deflated, Unchecked };

  struct Member {
    std::string name;
    std::uint16_t flags = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressed = 0;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;
    bool zip64 = false;
    bool descriptor = false;  // sizes and CRC come after the data
    Data data = Data::Stored;
    std::uint32_t crcSeen = 0;
    std::uint64_t compressedSeen = 0;
    std::uint64_t sizeSeen = 0;
  };

  bool collect(const unsigned char*& data, const unsigned char* end, std::size_t wanted);
  void dispatch();
  void nextRecord();
  void onSignature();
  void onLocalNames();
  void feedMember(const unsigned char*& data, const unsigned char* end);
  void inflateMember(const unsigned char*& data, std::size_t size);
  void endMemberData();
  void onDescriptor();
  void endMember();
  bool expandedWithin() const;
  bool overflowed() const;
  void onCentralNames();
  void onZip64End();
  void onEndHeader();
  void skip(std::uint64_t bytes, State after);
  void incomplete(std::string what);
  void unchecked(std::string what, bool stop);
  std::string memberText() const;

  Inflater& inflater_;
  State state_ = State::Signature;
  State afterSkip_ = State::Signature;
  std::string header_;
  std::size_t wanted_ = 4;
  std::uint64_t offset_ = 0;    // bytes of the archive fed so far
  std::uint64_t recordAt_ = 0;  // where the record being read began
  std::uint64_t skipLeft_ = 0;
  std::uint64_t expanded_ = 0;
  Member member_;
  bool sizeKnown_ = true;
  std::uint64_t memberLeft_ = 0;
  bool streamEnded_ = false;
  std::optional<bool> descriptorSigned_;
  std::uint64_t members_ = 0;
  std::uint64_t membersSum_ = 0;  // the members' fingerprints, summed: order does not matter
  std::uint64_t entries_ = 0;
  std::uint64_t entriesSum_ = 0;
  bool centralSeen_ = false;
  bool centralEnded_ = false;
  std::uint64_t centralStart_ = 0;
  std::uint64_t centralEnd_ = 0;
  struct Zip64End {
    bool present = false;
    std::uint64_t entries = 0;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;
  } zip64_;
  Completeness verdict_;
  std::uint64_t uncheckedCount_ = 0;
};

}  // namespace bm
