#include "archive_writer.h"

namespace {

void putNumber(std::string* out, uint64_t v) {
  // The header's variable-length number; the 9-byte form keeps this writer short
  // for large values, and small ones take their one-byte form.
  if (v < 0x80) {
    out->push_back(static_cast<char>(v));
    return;
  }
  out->push_back(static_cast<char>(0xFF));
  for (int i = 0; i < 8; i++) out->push_back(static_cast<char>(v >> (8 * i)));
}

void putLe(std::string* out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; i++) out->push_back(static_cast<char>(v >> (8 * i)));
}

void putBits(std::string* out, const std::vector<bool>& bits) {
  for (size_t i = 0; i < bits.size(); i += 8) {
    unsigned char b = 0;
    for (size_t k = 0; k < 8 && i + k < bits.size(); k++)
      if (bits[i + k]) b |= static_cast<unsigned char>(0x80 >> k);
    out->push_back(static_cast<char>(b));
  }
}

}  // namespace

uint32_t testCrc32(const std::string& data) {
  uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : data) {
    c ^= b;
    for (int k = 0; k < 8; k++) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

std::string writeCopyArchive(const std::vector<WriterEntry>& entries, bool wrongCrc) {
  std::string packed;
  std::vector<const WriterEntry*> withData;
  std::vector<bool> emptyStream, emptyFile;
  bool anyEmpty = false;
  for (const WriterEntry& e : entries) {
    bool empty = e.isDir || e.data.empty();
    emptyStream.push_back(empty);
    if (empty) {
      emptyFile.push_back(!e.isDir);
      anyEmpty = true;
    } else {
      withData.push_back(&e);
      packed += e.data;
    }
  }
  std::string h;
  h.push_back(0x01);  // header
  if (!withData.empty()) {
    h.push_back(0x04);  // main streams
    h.push_back(0x06);  // pack info
    putNumber(&h, 0);
    putNumber(&h, 1);
    h.push_back(0x09);
    putNumber(&h, packed.size());
    h.push_back(0x00);
    h.push_back(0x07);  // unpack info: one folder, one Copy coder
    h.push_back(0x0B);
    putNumber(&h, 1);
    h.push_back(0x00);
    putNumber(&h, 1);
    h.push_back(0x01);
    h.push_back(0x00);
    h.push_back(0x0C);
    putNumber(&h, packed.size());
    h.push_back(0x00);
    h.push_back(0x08);  // substreams: one per file with data
    h.push_back(0x0D);
    putNumber(&h, withData.size());
    h.push_back(0x09);
    for (size_t i = 0; i + 1 < withData.size(); i++) putNumber(&h, withData[i]->data.size());
    h.push_back(0x0A);
    h.push_back(0x01);
    for (size_t i = 0; i < withData.size(); i++)
      putLe(&h, testCrc32(withData[i]->data) ^ (wrongCrc && i == 0 ? 1u : 0u), 4);
    h.push_back(0x00);
    h.push_back(0x00);
  }
  h.push_back(0x05);  // files
  putNumber(&h, entries.size());
  if (anyEmpty) {
    std::string bits;
    putBits(&bits, emptyStream);
    h.push_back(0x0E);
    putNumber(&h, bits.size());
    h += bits;
    bits.clear();
    putBits(&bits, emptyFile);
    h.push_back(0x0F);
    putNumber(&h, bits.size());
    h += bits;
  }
  std::string names(1, '\0');
  for (const WriterEntry& e : entries) {
    for (wchar_t c : e.name) putLe(&names, static_cast<uint16_t>(c), 2);
    putLe(&names, 0, 2);
  }
  h.push_back(0x11);
  putNumber(&h, names.size());
  h += names;
  h.push_back(0x00);
  h.push_back(0x00);

  std::string start;
  putLe(&start, packed.size(), 8);
  putLe(&start, h.size(), 8);
  putLe(&start, testCrc32(h), 4);
  std::string out("7z\xBC\xAF\x27\x1C\x00\x04", 8);
  putLe(&out, testCrc32(start), 4);
  out += start;
  out += packed;
  out += h;
  return out;
}
