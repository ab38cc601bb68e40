#include "catalogue/completeness.hpp"

#include <algorithm>
#include <cstring>

#include "base/failure.hpp"
#include "catalogue/zip_check.hpp"

namespace bm {
namespace {

constexpr std::size_t kOutputSize = std::size_t{64} * 1024;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

bool allBlank(const char* data, std::size_t size) {
  return std::all_of(data, data + size, isBlank);
}

std::string withoutTrailingBlanks(std::string line) {
  while (!line.empty() && isBlank(line.back())) line.pop_back();
  return line;
}

// What a line says in a verdict: its start, enough to recognise it.
std::string shownLine(const std::string& line) {
  constexpr std::size_t kShown = 200;
  return quotedText(line.size() > kShown ? line.substr(0, kShown) + "..." : line);
}

}  // namespace

LastLinePattern::LastLinePattern(const std::string& text, const std::string& setting)
    : setting_(setting) {
  const int result = ::regcomp(&compiled_, text.c_str(), REG_EXTENDED | REG_NOSUB);
  if (result != 0) {
    char reason[256];
    ::regerror(result, &compiled_, reason, sizeof reason);
    throw Failure(FailureKind::Configuration,
                  setting + ": expressão " + quotedText(text) + " inválida: " + reason);
  }
}

LastLinePattern::~LastLinePattern() { ::regfree(&compiled_); }

bool LastLinePattern::matches(const std::string& line) const {
  return ::regexec(&compiled_, line.c_str(), 0, nullptr, 0) == 0;
}

void LastLineTracker::reset() {
  complete_.clear();
  partial_.clear();
  partialBlank_ = true;
}

void LastLineTracker::appendPartial(const char* data, std::size_t size) {
  if (partial_.size() < kKept) partial_.append(data, std::min(size, kKept - partial_.size()));
  partialBlank_ = partialBlank_ && allBlank(data, size);
}

// From the last line ending back: only the trailing blank lines of a piece are looked at.
void LastLineTracker::feed(const char* data, std::size_t size) {
  const auto* lastEnd = static_cast<const char*>(::memrchr(data, '\n', size));
  if (lastEnd == nullptr) {
    appendPartial(data, size);
    return;
  }
  const char* lineEnd = lastEnd;
  for (;;) {
    const auto* before =
        static_cast<const char*>(::memrchr(data, '\n', static_cast<std::size_t>(lineEnd - data)));
    const char* lineStart = before == nullptr ? data : before + 1;
    const auto length = static_cast<std::size_t>(lineEnd - lineStart);
    if (before == nullptr) {  // the first line of the piece ends the one begun before it
      appendPartial(lineStart, length);
      if (!partialBlank_) complete_.swap(partial_);
      break;
    }
    if (!allBlank(lineStart, length)) {
      complete_.assign(lineStart, std::min(length, kKept));
      break;
    }
    lineEnd = before;
  }
  partial_.clear();
  partialBlank_ = true;
  appendPartial(lastEnd + 1, static_cast<std::size_t>(data + size - lastEnd - 1));
}

std::string LastLineTracker::last() const {
  return withoutTrailingBlanks(partialBlank_ ? complete_ : partial_);
}

Inflater::Inflater() : output_(kOutputSize) {
  if (::inflateInit2(&stream_, -MAX_WBITS) != Z_OK) {
    throw Failure(FailureKind::System, "inflateInit2: memória insuficiente");
  }
}

Inflater::~Inflater() { ::inflateEnd(&stream_); }

void Inflater::resetRaw() { ::inflateReset2(&stream_, -MAX_WBITS); }

void Inflater::resetGzip() { ::inflateReset2(&stream_, MAX_WBITS + 16); }

CompletenessCheck::CompletenessCheck(const LastLinePattern* lastLine) : lastLine_(lastLine) {}

CompletenessCheck::~CompletenessCheck() = default;

std::string CompletenessCheck::pastTheBound() {
  return "mais de " + std::to_string(kMostExpanded) +
         " bytes descomprimidos; o resto não foi verificado";
}

void CompletenessCheck::start() {
  kind_ = Kind::Unknown;
  head_.clear();
  stopped_ = false;
  betweenMembers_ = false;
  nextMagic_.clear();
  expanded_ = 0;
  verdict_ = Completeness();
  tracker_.reset();
}

void CompletenessCheck::feed(const unsigned char* data, std::size_t size) {
  if (kind_ != Kind::Unknown) {
    feedKnown(data, size);
    return;
  }
  // Four bytes tell a zip; a read shorter than that is waited out.
  const std::size_t taken = std::min(size, 4 - head_.size());
  head_.append(reinterpret_cast<const char*>(data), taken);
  if (head_.size() < 4) return;
  recognise();
  feedKnown(data + taken, size - taken);
}

void CompletenessCheck::recognise() {
  const std::string head = std::move(head_);
  if (head.compare(0, 4, "PK\x03\x04") == 0 || head.compare(0, 4, "PK\x05\x06") == 0) {
    kind_ = Kind::Zip;
    zip_ = std::make_unique<ZipCheck>(inflater_);
  } else if (head.compare(0, 3, "\x1f\x8b\x08") == 0) {
    kind_ = Kind::Gzip;
    inflater_.resetGzip();
  } else {
    kind_ = Kind::Plain;
  }
  feedKnown(reinterpret_cast<const unsigned char*>(head.data()), head.size());
}

void CompletenessCheck::feedKnown(const unsigned char* data, std::size_t size) {
  if (size == 0 || stopped_) return;
  if (kind_ == Kind::Zip) {
    zip_->feed(data, size);
  } else if (kind_ == Kind::Gzip) {
    feedGzip(data, size);
  } else if (lastLine_ != nullptr) {
    tracker_.feed(reinterpret_cast<const char*>(data), size);
  }
}

// Members one after the other, as gzip itself reads them; bytes after a member that do not
// begin another are ignored, as gzip ignores them.
void CompletenessCheck::feedGzip(const unsigned char* data, std::size_t size) {
  while (size > 0 && !stopped_) {
    if (betweenMembers_) {
      // Another member begins with both of its magic bytes, which two reads may split.
      const std::size_t taken = std::min<std::size_t>(2 - nextMagic_.size(), size);
      nextMagic_.append(reinterpret_cast<const char*>(data), taken);
      data += taken;
      size -= taken;
      if (nextMagic_.size() < 2) return;
      if (nextMagic_ != "\x1f\x8b") {
        stopped_ = true;
        return;
      }
      betweenMembers_ = false;
      inflater_.resetGzip();
      inflateGzip(reinterpret_cast<const unsigned char*>(nextMagic_.data()), 2);
      nextMagic_.clear();
      continue;
    }
    const std::size_t rest = inflateGzip(data, size);
    data += size - rest;
    size = rest;
  }
}

void CompletenessCheck::stopGzip(std::string incomplete, std::string unchecked) {
  verdict_.incomplete = std::move(incomplete);
  verdict_.unchecked = std::move(unchecked);
  stopped_ = true;
}

// Inflates data into the current member; what is left after the member's end, if it ended.
std::size_t CompletenessCheck::inflateGzip(const unsigned char* data, std::size_t size) {
  const Inflater::Step step =
      inflater_.inflate(data, size, [this](const unsigned char* out, std::size_t produced) {
        expanded_ += produced;
        if (lastLine_ != nullptr) tracker_.feed(reinterpret_cast<const char*>(out), produced);
        return expanded_ <= kMostExpanded;
      });
  // What came out before a fault is told first, however the input was split.
  if (expanded_ > kMostExpanded) {
    stopGzip("", pastTheBound());
    return 0;
  }
  if (Inflater::isFault(step.result)) {
    const std::string reason = inflater_.reason();
    stopGzip(reason == "incorrect data check"     ? "CRC-32 errado no gzip"
             : reason == "incorrect length check" ? "tamanho errado no gzip"
                                                  : "gzip inválido: " + reason,
             "");
    return 0;
  }
  if (step.result != Z_STREAM_END) return 0;
  betweenMembers_ = true;
  return size - step.consumed;
}

Completeness CompletenessCheck::finish() {
  // Nothing came at all: not even the bytes that would tell the kind.
  const bool empty = kind_ == Kind::Unknown && head_.empty();
  if (kind_ == Kind::Unknown) recognise();
  if (kind_ == Kind::Zip) return zip_->finish();
  Completeness verdict = std::move(verdict_);
  if (kind_ == Kind::Gzip && !stopped_ && !betweenMembers_) verdict.incomplete = "gzip cortado";
  // An empty file has no line, but its emptiness is its own problem, told by its size.
  if (lastLine_ == nullptr || !verdict.incomplete.empty() || !verdict.unchecked.empty() || empty) {
    return verdict;
  }
  const std::string line = tracker_.last();
  if (line.empty()) {
    verdict.incomplete = "nenhuma linha não vazia para " + lastLine_->setting();
  } else if (!lastLine_->matches(line)) {
    verdict.incomplete =
        "última linha " + shownLine(line) + " não confere com " + lastLine_->setting();
  }
  return verdict;
}

}  // namespace bm
