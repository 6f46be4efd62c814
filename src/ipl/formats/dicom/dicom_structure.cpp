#include "ipl/formats/dicom/dicom_structure.h"

#include <cstring>

#include "ipl/ipl_exception.h"

namespace velIPL {

namespace {

[[noreturn]] void corrupt(const std::string& what) { throw IPLException("Corrupt DICOM file: " + what); }

constexpr std::uint32_t undefinedLength = 0xFFFFFFFF;
constexpr int maxDepth = 16;

std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t le32(const unsigned char* p) {
  return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

bool knownVr(const unsigned char* vr) {
  static const char* const vrs[] = {"AE", "AS", "AT", "CS", "DA", "DS", "DT", "FL", "FD", "IS", "LO", "LT",
                                    "OB", "OD", "OF", "OL", "OV", "OW", "PN", "SH", "SL", "SQ", "SS", "ST",
                                    "SV", "TM", "UC", "UI", "UL", "UN", "UR", "US", "UT", "UV"};
  for (const char* v : vrs) {
    if (vr[0] == v[0] && vr[1] == v[1]) return true;
  }
  return false;
}

constexpr std::uint32_t keyOf(std::uint16_t group, std::uint16_t element) {
  return static_cast<std::uint32_t>(group) << 16 | element;
}

constexpr std::uint32_t maxKeptValue = 1 << 20;

bool longForm(const unsigned char* vr) {
  static const char* const longVrs[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ", "SV", "UC", "UN", "UR", "UT", "UV"};
  for (const char* v : longVrs) {
    if (vr[0] == v[0] && vr[1] == v[1]) return true;
  }
  return false;
}

class Walker {
public:
  Walker(std::istream& stream, std::uint64_t size, DicomStructure& kept) : stream_(stream), size_(size), kept_(kept) {}

  void read(std::uint64_t at, unsigned char* target, std::uint64_t n) {
    if (at > size_ || n > size_ - at) corrupt("file ends inside an element");
    stream_.clear();
    stream_.seekg(static_cast<std::streamoff>(at));
    stream_.read(reinterpret_cast<char*>(target), static_cast<std::streamsize>(n));
    if (static_cast<std::uint64_t>(stream_.gcount()) != n) corrupt("file ends inside an element");
  }

  struct Element {
    std::uint16_t group = 0;
    std::uint16_t element = 0;
    std::uint32_t length = 0;
    std::uint64_t value = 0;  // offset of the value
    bool sequence = false;    // explicit SQ, or undefined length
  };

  Element element(std::uint64_t at, bool explicitVr) {
    unsigned char h[12];
    read(at, h, 8);
    Element e;
    e.group = le16(h);
    e.element = le16(h + 2);
    if (e.group == 0xFFFE) {  // items and delimiters carry no VR
      e.length = le32(h + 4);
      e.value = at + 8;
    } else if (!explicitVr) {
      e.length = le32(h + 4);
      e.value = at + 8;
    } else if (!knownVr(h + 4)) {
      corrupt("unknown value representation");
    } else if (longForm(h + 4)) {
      read(at + 8, h + 8, 4);
      e.length = le32(h + 8);
      e.value = at + 12;
      e.sequence = h[4] == 'S' && h[5] == 'Q';
    } else {
      e.length = le16(h + 6);
      e.value = at + 8;
    }
    if (e.length == undefinedLength) e.sequence = true;
    return e;
  }

  // Skips a sequence's items from at; returns the offset after it.
  std::uint64_t skipSequence(std::uint64_t at, std::uint32_t length, bool explicitVr, int depth, std::uint32_t tag) {
    if (depth > maxDepth) corrupt("sequences nested too deep");
    if (depth <= 2) enclosing_[depth - 1] = tag;
    const std::uint64_t end = length == undefinedLength ? size_ : at + length;
    if (end > size_) corrupt("file ends inside a sequence");
    while (at < end) {
      const Element item = element(at, explicitVr);
      if (item.group != 0xFFFE) corrupt("sequence without items");
      if (item.element == 0xE0DD) {
        if (length != undefinedLength) corrupt("delimiter in a sequence of defined length");
        return item.value;
      }
      if (item.element != 0xE000) corrupt("bad item in a sequence");
      at = item.length == undefinedLength ? skipElements(item.value, size_, explicitVr, depth + 1, true)
                                          : checkedEnd(item.value, item.length);
      if (item.length != undefinedLength) skipElements(item.value, at, explicitVr, depth + 1, false);
    }
    if (length == undefinedLength) corrupt("file ends inside a sequence");
    return at;
  }

  // Skips the elements of an item from at up to end, or to its delimiter
  // when delimited; returns the offset after them.
  std::uint64_t skipElements(std::uint64_t at, std::uint64_t end, bool explicitVr, int depth, bool delimited) {
    while (at < end) {
      const Element e = element(at, explicitVr);
      if (e.group == 0xFFFE && e.element == 0xE00D) {
        if (!delimited) corrupt("stray item delimiter");
        return e.value;
      }
      if (depth == 3 && enclosing_[0] == keyOf(0x5200, 0x9229) && enclosing_[1] == keyOf(0x0028, 0x9110) &&
          !e.sequence) {
        const std::uint32_t key = keyOf(e.group, e.element);
        if (key == keyOf(0x0028, 0x0030)) keep(DicomStructure::sharedPixelSpacing, e);
        if (key == keyOf(0x0018, 0x0088)) keep(DicomStructure::sharedSliceSpacing, e);
      }
      at = e.sequence ? skipSequence(e.value, e.length, explicitVr, depth, keyOf(e.group, e.element))
                      : checkedEnd(e.value, e.length);
    }
    if (delimited) corrupt("file ends inside an item");
    if (at != end) corrupt("item length does not match its elements");
    return at;
  }

  std::uint64_t checkedEnd(std::uint64_t at, std::uint32_t length) {
    if (length == undefinedLength || at > size_ || length > size_ - at) corrupt("file ends inside an element");
    return at + length;
  }

  std::uint64_t size() const { return size_; }

  // Keeps the element's value under key, when it is small enough.
  void keep(std::uint32_t key, const Element& e) {
    if (e.length > maxKeptValue) return;
    std::string value(e.length, '\0');
    read(e.value, reinterpret_cast<unsigned char*>(value.data()), e.length);
    kept_.values[key] = std::move(value);
  }

private:
  std::istream& stream_;
  std::uint64_t size_;
  DicomStructure& kept_;
  std::uint32_t enclosing_[2] = {0, 0};  // the sequences around depth 1 and 2
};

}  // namespace

std::string DicomStructure::value(std::uint16_t group, std::uint16_t element) const {
  const auto it = values.find(keyOf(group, element));
  return it == values.end() ? std::string() : it->second;
}

DicomStructure DicomStructure::walk(std::istream& stream, std::int64_t fileBytes) {
  if (fileBytes < 132) throw IPLException("Not a DICOM file");
  DicomStructure s;
  Walker walker(stream, static_cast<std::uint64_t>(fileBytes), s);
  unsigned char magic[4];
  walker.read(128, magic, 4);
  if (std::memcmp(magic, "DICM", 4) != 0) throw IPLException("Not a DICOM file");
  std::uint64_t at = 132;
  // The meta group: always explicit VR little endian.
  while (at < walker.size()) {
    const Walker::Element e = walker.element(at, true);
    if (e.group != 0x0002) break;
    if (e.sequence) corrupt("sequence in the meta group");
    const std::uint64_t next = walker.checkedEnd(e.value, e.length);
    if (e.element == 0x0010) {
      if (e.length > 64) corrupt("transfer syntax too long");
      unsigned char uid[64];
      walker.read(e.value, uid, e.length);
      s.transferSyntax.assign(reinterpret_cast<const char*>(uid), e.length);
      while (!s.transferSyntax.empty() && (s.transferSyntax.back() == '\0' || s.transferSyntax.back() == ' ')) {
        s.transferSyntax.pop_back();
      }
    }
    at = next;
  }
  if (s.transferSyntax.empty()) corrupt("no transfer syntax");
  if (s.transferSyntax == "1.2.840.10008.1.2.2" || s.transferSyntax == "1.2.840.10008.1.2.1.99") {
    throw IPLException("Unsupported DICOM: transfer syntax " + s.transferSyntax);
  }
  s.explicitVr = s.transferSyntax != "1.2.840.10008.1.2";
  while (at < walker.size()) {
    const Walker::Element e = walker.element(at, s.explicitVr);
    if (e.group == 0x7FE0 && e.element == 0x0010) {
      s.pixelElement = at;
      s.pixelValue = e.value;
      s.pixelLength = e.length;
      return s;
    }
    if (e.group == 0xFFFE) corrupt("stray item");
    if ((e.group == 0x0008 || e.group == 0x0028 || (e.group == 0x0018 && e.element == 0x0088)) && !e.sequence) {
      walker.keep(keyOf(e.group, e.element), e);
    }
    at = e.sequence ? walker.skipSequence(e.value, e.length, s.explicitVr, 1, keyOf(e.group, e.element))
                    : walker.checkedEnd(e.value, e.length);
  }
  corrupt("no pixel data");
}

}  // namespace velIPL
