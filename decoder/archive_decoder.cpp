#include "archive_decoder.h"

#include <stdlib.h>
#include <string.h>

#include "crc32.h"
#include "entry_name.h"
#include "folder_decoder.h"

namespace {

const uint64_t kSignatureHeaderSize = 32;
const uint8_t kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};

// Sane limits for what a header may describe; beyond them the archive is
// refused instead of letting a few bytes claim gigabytes of tables.
const uint64_t kMaxHeaderSize = 64u << 20;
const uint32_t kMaxFiles = 1u << 20;
const uint32_t kMaxFolders = 1u << 18;
const uint32_t kMaxPackStreams = 1u << 20;
const int kMaxHeaderNesting = 4;

const size_t kCopyBufferSize = 1 << 18;

enum PropertyId {
  kEnd = 0x00,
  kHeader = 0x01,
  kArchiveProperties = 0x02,
  kAdditionalStreamsInfo = 0x03,
  kMainStreamsInfo = 0x04,
  kFilesInfo = 0x05,
  kPackInfo = 0x06,
  kUnpackInfo = 0x07,
  kSubStreamsInfo = 0x08,
  kSize = 0x09,
  kCrc = 0x0A,
  kFolder = 0x0B,
  kCodersUnpackSize = 0x0C,
  kNumUnpackStream = 0x0D,
  kEmptyStream = 0x0E,
  kEmptyFile = 0x0F,
  kAnti = 0x10,
  kName = 0x11,
  kEncodedHeader = 0x17,
};

struct SubStream {
  uint64_t size;
  uint32_t crcDefined;
  uint32_t crc;
};

struct StreamsInfo {
  uint32_t numPackStreams;
  PackStreamInfo* packs;
  uint32_t numFolders;
  FolderLayout* folders;
  uint32_t* numSubStreams;  // per folder
  uint32_t totalSubStreams;
  SubStream* subs;
};

struct FileItem {
  uint32_t nameStart;  // in units of ArchiveInfo::names
  uint32_t nameLength;
  uint8_t hasStream;
  uint8_t isDir;
  uint8_t isAnti;
};

struct ArchiveInfo {
  uint8_t* header;
  StreamsInfo streams;
  uint32_t numFiles;
  FileItem* files;
  uint16_t* names;  // every name, each followed by a zero
};

// Reads the header bytes; any read past the end sets `error` and yields zeros,
// so parsers can check once after a group of reads.
struct Reader {
  const uint8_t* data;
  size_t size;
  size_t pos;
  uint32_t error;
};

uint8_t readByte(Reader* r) {
  if (r->pos >= r->size) {
    r->error = kDecodeBadArchive;
    return 0;
  }
  return r->data[r->pos++];
}

// The header's variable-length number: the first byte's leading one bits tell
// how many little-endian bytes follow.
uint64_t readNumber(Reader* r) {
  uint8_t first = readByte(r);
  uint8_t mask = 0x80;
  uint64_t value = 0;
  for (int i = 0; i < 8; i++) {
    if ((first & mask) == 0) {
      uint64_t high = first & (mask - 1u);
      return value | (high << (8 * i));
    }
    value |= static_cast<uint64_t>(readByte(r)) << (8 * i);
    mask >>= 1;
  }
  return value;
}

uint32_t readUInt32(Reader* r) {
  uint32_t v = 0;
  for (int i = 0; i < 4; i++) v |= static_cast<uint32_t>(readByte(r)) << (8 * i);
  return v;
}

size_t remaining(const Reader* r) { return r->pos <= r->size ? r->size - r->pos : 0; }

void skip(Reader* r, uint64_t n) {
  if (n > remaining(r)) {
    r->error = kDecodeBadArchive;
    r->pos = r->size;
    return;
  }
  r->pos += static_cast<size_t>(n);
}

// A count of items, each of which needs at least one header byte: refused when
// the header couldn't hold that many or it passes `max`.
uint32_t readCount(Reader* r, uint32_t max) {
  uint64_t n = readNumber(r);
  if (n > max) {
    if (r->error == kDecodeOk) r->error = kDecodeUnsupported;
    return 0;
  }
  if (n > remaining(r)) {
    r->error = kDecodeBadArchive;
    return 0;
  }
  return static_cast<uint32_t>(n);
}

void skipData(Reader* r) { skip(r, readNumber(r)); }

// A bit vector, most significant bit first.
void readBits(Reader* r, uint32_t count, uint8_t* bits) {
  uint8_t byte = 0;
  for (uint32_t i = 0; i < count; i++) {
    if (i % 8 == 0) byte = readByte(r);
    bits[i] = (byte >> (7 - i % 8)) & 1;
  }
}

// "All defined" byte or a bit vector, then the CRCs of the defined items.
void readDigests(Reader* r, uint32_t count, uint8_t* defined, uint32_t* crcs) {
  uint8_t all = readByte(r);
  if (all) {
    memset(defined, 1, count);
  } else {
    readBits(r, count, defined);
  }
  for (uint32_t i = 0; i < count && r->error == kDecodeOk; i++) crcs[i] = defined[i] ? readUInt32(r) : 0;
}

void* allocArray(uint64_t count, size_t itemSize) {
  return calloc(count == 0 ? 1 : static_cast<size_t>(count), itemSize);
}

// The optional digests that close a pack or coders section, read into the
// crcDefined and crc of each item.
template <typename Item>
uint32_t readSectionDigests(Reader* r, uint32_t count, Item* items) {
  for (;;) {
    uint8_t id = readByte(r);
    if (r->error || id == kEnd) break;
    if (id != kCrc) {
      skipData(r);
      continue;
    }
    uint8_t* defined = static_cast<uint8_t*>(allocArray(count, 1));
    uint32_t* crcs = static_cast<uint32_t*>(allocArray(count, sizeof(uint32_t)));
    if (defined && crcs) {
      readDigests(r, count, defined, crcs);
      for (uint32_t i = 0; i < count; i++) {
        items[i].crcDefined = defined[i];
        items[i].crc = crcs[i];
      }
    }
    free(defined);
    free(crcs);
    if (!defined || !crcs) return kDecodeNoMemory;
  }
  return r->error;
}

void freeStreamsInfo(StreamsInfo* s) {
  free(s->packs);
  free(s->folders);
  free(s->numSubStreams);
  free(s->subs);
  memset(s, 0, sizeof *s);
}

uint32_t parsePackInfo(Reader* r, StreamsInfo* s, uint64_t fileSize) {
  uint64_t packPos = readNumber(r);
  s->numPackStreams = readCount(r, kMaxPackStreams);
  if (r->error) return r->error;
  s->packs = static_cast<PackStreamInfo*>(allocArray(s->numPackStreams, sizeof(PackStreamInfo)));
  if (!s->packs) return kDecodeNoMemory;
  if (readByte(r) != kSize) return kDecodeBadArchive;
  // The packed streams lie back to back after the signature header; all of them
  // must lie inside the file.
  uint64_t limit = fileSize - kSignatureHeaderSize;
  if (packPos > limit) return kDecodeBadArchive;
  uint64_t offset = packPos;
  for (uint32_t i = 0; i < s->numPackStreams; i++) {
    uint64_t size = readNumber(r);
    if (size > limit - offset) return kDecodeBadArchive;
    s->packs[i].offset = kSignatureHeaderSize + offset;
    s->packs[i].size = size;
    offset += size;
  }
  return readSectionDigests(r, s->numPackStreams, s->packs);
}

uint32_t parseFolder(Reader* r, FolderLayout* f) {
  uint64_t numCoders = readNumber(r);
  if (r->error) return r->error;
  if (numCoders == 0) return kDecodeBadArchive;
  if (numCoders > kMaxFolderCoders) return kDecodeUnsupported;
  f->numCoders = static_cast<uint32_t>(numCoders);
  uint32_t totalIn = 0;
  for (uint32_t i = 0; i < f->numCoders; i++) {
    FolderCoder* c = &f->coders[i];
    uint8_t flags = readByte(r);
    // Alternative methods and the reserved bit were never written by any tool.
    if (flags & 0xC0) return kDecodeUnsupported;
    c->methodIdSize = flags & 0x0F;
    if (c->methodIdSize > sizeof c->methodId) return kDecodeUnsupported;
    for (uint32_t k = 0; k < c->methodIdSize; k++) c->methodId[k] = readByte(r);
    c->numInStreams = 1;
    if (flags & 0x10) {
      uint64_t numIn = readNumber(r);
      uint64_t numOut = readNumber(r);
      if (r->error) return r->error;
      if (numOut != 1 || numIn == 0 || numIn > kMaxFolderStreams) return kDecodeUnsupported;
      c->numInStreams = static_cast<uint32_t>(numIn);
    }
    if (flags & 0x20) {
      uint64_t size = readNumber(r);
      if (size > remaining(r)) return kDecodeBadArchive;
      c->props = r->data + r->pos;
      c->propsSize = static_cast<uint32_t>(size);
      skip(r, size);
    }
    totalIn += c->numInStreams;
    if (totalIn > kMaxFolderStreams) return kDecodeUnsupported;
  }
  f->numBindPairs = f->numCoders - 1;
  for (uint32_t i = 0; i < f->numBindPairs; i++) {
    uint64_t in = readNumber(r);
    uint64_t out = readNumber(r);
    if (in >= totalIn || out >= f->numCoders) return kDecodeBadArchive;
    f->bindInIndex[i] = static_cast<uint32_t>(in);
    f->bindOutIndex[i] = static_cast<uint32_t>(out);
  }
  if (totalIn < f->numBindPairs + 1) return kDecodeBadArchive;
  f->numPackedStreams = totalIn - f->numBindPairs;
  if (f->numPackedStreams == 1) {
    // The one packed stream feeds the input that no bind pair feeds.
    uint32_t in = 0;
    for (; in < totalIn; in++) {
      uint32_t b = 0;
      while (b < f->numBindPairs && f->bindInIndex[b] != in) b++;
      if (b == f->numBindPairs) break;
    }
    if (in == totalIn) return kDecodeBadArchive;
    f->packedInIndex[0] = in;
  } else {
    for (uint32_t i = 0; i < f->numPackedStreams; i++) {
      uint64_t in = readNumber(r);
      if (in >= totalIn) return kDecodeBadArchive;
      f->packedInIndex[i] = static_cast<uint32_t>(in);
    }
  }
  uint32_t main = 0;
  for (; main < f->numCoders; main++) {
    uint32_t b = 0;
    while (b < f->numBindPairs && f->bindOutIndex[b] != main) b++;
    if (b == f->numBindPairs) break;
  }
  if (main == f->numCoders) return kDecodeBadArchive;
  f->mainCoder = main;
  return r->error;
}

uint32_t parseUnpackInfo(Reader* r, StreamsInfo* s) {
  if (readByte(r) != kFolder) return kDecodeBadArchive;
  s->numFolders = readCount(r, kMaxFolders);
  if (r->error) return r->error;
  if (readByte(r) != 0) return kDecodeUnsupported;  // folders kept in another stream
  s->folders = static_cast<FolderLayout*>(allocArray(s->numFolders, sizeof(FolderLayout)));
  if (!s->folders) return kDecodeNoMemory;
  uint32_t nextPack = 0;
  for (uint32_t i = 0; i < s->numFolders; i++) {
    uint32_t err = parseFolder(r, &s->folders[i]);
    if (err) return err;
    s->folders[i].firstPackStream = nextPack;
    if (s->folders[i].numPackedStreams > s->numPackStreams - nextPack) return kDecodeBadArchive;
    nextPack += s->folders[i].numPackedStreams;
  }
  if (readByte(r) != kCodersUnpackSize) return kDecodeBadArchive;
  for (uint32_t i = 0; i < s->numFolders; i++) {
    for (uint32_t c = 0; c < s->folders[i].numCoders; c++)
      s->folders[i].coders[c].unpackSize = readNumber(r);
  }
  return readSectionDigests(r, s->numFolders, s->folders);
}

uint64_t folderSize(const FolderLayout* f) { return f->coders[f->mainCoder].unpackSize; }

// Without a substreams record every folder holds one stream: the whole folder.
uint32_t parseSubStreamsInfo(Reader* r, StreamsInfo* s, int present) {
  s->numSubStreams = static_cast<uint32_t*>(allocArray(s->numFolders, sizeof(uint32_t)));
  if (!s->numSubStreams) return kDecodeNoMemory;
  uint64_t total = 0;
  for (uint32_t i = 0; i < s->numFolders; i++) s->numSubStreams[i] = 1;
  total = s->numFolders;
  uint8_t id = present ? readByte(r) : static_cast<uint8_t>(kEnd);
  if (id == kNumUnpackStream) {
    total = 0;
    for (uint32_t i = 0; i < s->numFolders; i++) {
      uint64_t n = readNumber(r);
      total += n;
      if (n > kMaxFiles || total > kMaxFiles) return kDecodeUnsupported;
      s->numSubStreams[i] = static_cast<uint32_t>(n);
    }
    id = readByte(r);
  }
  if (r->error) return r->error;
  s->totalSubStreams = static_cast<uint32_t>(total);
  s->subs = static_cast<SubStream*>(allocArray(total, sizeof(SubStream)));
  if (!s->subs) return kDecodeNoMemory;
  uint32_t k = 0;
  uint32_t unknownCrcs = 0;
  for (uint32_t i = 0; i < s->numFolders; i++) {
    uint32_t n = s->numSubStreams[i];
    if (n == 0) continue;
    const FolderLayout* f = &s->folders[i];
    uint64_t left = folderSize(f);
    if (n > 1 && id != kSize) return kDecodeBadArchive;
    for (uint32_t j = 0; j + 1 < n; j++) {
      uint64_t size = readNumber(r);
      if (size > left) return kDecodeBadArchive;
      s->subs[k++].size = size;
      left -= size;
    }
    s->subs[k++].size = left;
    if (n == 1 && f->crcDefined) {
      s->subs[k - 1].crcDefined = 1;
      s->subs[k - 1].crc = f->crc;
    } else {
      unknownCrcs += n;
    }
  }
  if (id == kSize) id = readByte(r);
  while (r->error == kDecodeOk && id != kEnd) {
    if (id != kCrc) {
      skipData(r);
      id = readByte(r);
      continue;
    }
    uint8_t* defined = static_cast<uint8_t*>(allocArray(unknownCrcs, 1));
    uint32_t* crcs = static_cast<uint32_t*>(allocArray(unknownCrcs, sizeof(uint32_t)));
    if (defined && crcs) {
      readDigests(r, unknownCrcs, defined, crcs);
      uint32_t u = 0;
      k = 0;
      for (uint32_t i = 0; i < s->numFolders; i++) {
        uint32_t n = s->numSubStreams[i];
        if (n == 1 && s->folders[i].crcDefined) {
          k++;
          continue;
        }
        for (uint32_t j = 0; j < n; j++, k++, u++) {
          s->subs[k].crcDefined = defined[u];
          s->subs[k].crc = crcs[u];
        }
      }
    }
    free(defined);
    free(crcs);
    if (!defined || !crcs) return kDecodeNoMemory;
    id = readByte(r);
  }
  return r->error;
}

uint32_t parseStreamsInfo(Reader* r, StreamsInfo* s, uint64_t fileSize) {
  uint8_t id = readByte(r);
  uint32_t err;
  if (id == kPackInfo) {
    if ((err = parsePackInfo(r, s, fileSize)) != kDecodeOk) return err;
    id = readByte(r);
  }
  if (id == kUnpackInfo) {
    if ((err = parseUnpackInfo(r, s)) != kDecodeOk) return err;
    id = readByte(r);
  }
  int hasSubStreams = id == kSubStreamsInfo;
  if ((err = parseSubStreamsInfo(r, s, hasSubStreams)) != kDecodeOk) return err;
  if (hasSubStreams) id = readByte(r);
  if (r->error) return r->error;
  return id == kEnd ? kDecodeOk : kDecodeBadArchive;
}

uint32_t parseFilesInfo(Reader* r, ArchiveInfo* a) {
  a->numFiles = readCount(r, kMaxFiles);
  if (r->error) return r->error;
  uint32_t n = a->numFiles;
  a->files = static_cast<FileItem*>(allocArray(n, sizeof(FileItem)));
  uint8_t* emptyStream = static_cast<uint8_t*>(allocArray(n, 1));
  uint8_t* emptyFile = static_cast<uint8_t*>(allocArray(n, 1));
  uint8_t* anti = static_cast<uint8_t*>(allocArray(n, 1));
  uint32_t err = kDecodeOk;
  uint32_t numEmpty = 0;
  if (!a->files || !emptyStream || !emptyFile || !anti) err = kDecodeNoMemory;
  while (err == kDecodeOk) {
    uint64_t type = readNumber(r);
    if (r->error || type == kEnd) break;
    uint64_t size = readNumber(r);
    if (size > remaining(r)) {
      err = kDecodeBadArchive;
      break;
    }
    // Each property is read inside its own size, whatever it claims inside.
    Reader p = {r->data + r->pos, static_cast<size_t>(size), 0, kDecodeOk};
    switch (type) {
      case kEmptyStream:
        readBits(&p, n, emptyStream);
        numEmpty = 0;
        for (uint32_t i = 0; i < n; i++) numEmpty += emptyStream[i];
        memset(emptyFile, 0, n);
        memset(anti, 0, n);
        break;
      case kEmptyFile:
        readBits(&p, numEmpty, emptyFile);
        break;
      case kAnti:
        readBits(&p, numEmpty, anti);
        break;
      case kName: {
        if (readByte(&p) != 0) {
          err = kDecodeUnsupported;
          break;
        }
        size_t units = remaining(&p) / 2;
        free(a->names);
        a->names = static_cast<uint16_t*>(allocArray(units, sizeof(uint16_t)));
        if (!a->names) {
          err = kDecodeNoMemory;
          break;
        }
        for (size_t u = 0; u < units; u++)
          a->names[u] = static_cast<uint16_t>(p.data[p.pos + 2 * u] | p.data[p.pos + 2 * u + 1] << 8);
        size_t u = 0;
        for (uint32_t i = 0; i < n; i++) {
          size_t start = u;
          while (u < units && a->names[u] != 0) u++;
          if (u == units) {
            p.error = kDecodeBadArchive;
            break;
          }
          a->files[i].nameStart = static_cast<uint32_t>(start);
          a->files[i].nameLength = static_cast<uint32_t>(u - start);
          u++;
        }
        break;
      }
      default:
        break;
    }
    if (err == kDecodeOk) err = p.error;
    r->pos += static_cast<size_t>(size);
  }
  if (err == kDecodeOk) err = r->error;
  if (err == kDecodeOk) {
    uint32_t e = 0;
    for (uint32_t i = 0; i < n; i++) {
      FileItem* f = &a->files[i];
      f->hasStream = !emptyStream[i];
      if (emptyStream[i]) {
        f->isDir = !emptyFile[e];
        f->isAnti = anti[e];
        e++;
      }
    }
  }
  free(emptyStream);
  free(emptyFile);
  free(anti);
  return err;
}

uint32_t parseHeader(Reader* r, ArchiveInfo* a, uint64_t fileSize) {
  uint8_t id = readByte(r);
  uint32_t err;
  if (id == kArchiveProperties) {
    for (;;) {
      uint8_t type = readByte(r);
      if (r->error || type == 0) break;
      skipData(r);
    }
    id = readByte(r);
  }
  if (id == kAdditionalStreamsInfo) return kDecodeUnsupported;
  if (id == kMainStreamsInfo) {
    if ((err = parseStreamsInfo(r, &a->streams, fileSize)) != kDecodeOk) return err;
    id = readByte(r);
  }
  if (id == kFilesInfo) {
    if ((err = parseFilesInfo(r, a)) != kDecodeOk) return err;
    id = readByte(r);
  }
  if (r->error) return r->error;
  if (id != kEnd) return kDecodeBadArchive;
  // Files with data take the folders' streams in order; the counts must agree.
  uint64_t withStream = 0;
  for (uint32_t i = 0; i < a->numFiles; i++) withStream += a->files[i].hasStream;
  if (withStream != a->streams.totalSubStreams) return kDecodeBadArchive;
  for (uint32_t i = 0; i < a->streams.numFolders; i++) {
    if (a->streams.numSubStreams[i] == 0) continue;
    if ((err = checkFolderSupported(&a->streams.folders[i])) != kDecodeOk) return err;
  }
  return kDecodeOk;
}

// Decodes a compressed header (the first folder of its streams) into a new buffer.
uint32_t unpackHeader(const ArchiveSource* source, const StreamsInfo* s, uint8_t** out,
                      size_t* outSize) {
  if (s->numFolders == 0) return kDecodeBadArchive;
  const FolderLayout* f = &s->folders[0];
  uint64_t size = folderSize(f);
  if (size == 0) return kDecodeBadArchive;
  if (size > kMaxHeaderSize) return kDecodeUnsupported;
  uint32_t err = checkFolderSupported(f);
  if (err) return err;
  uint8_t* buffer = static_cast<uint8_t*>(malloc(static_cast<size_t>(size)));
  if (!buffer) return kDecodeNoMemory;
  FolderDecoder* d = nullptr;
  err = openFolderDecoder(source, f, s->packs + f->firstPackStream, &d);
  size_t have = 0;
  while (err == kDecodeOk && have < size) {
    size_t got = 0;
    err = readFolder(d, buffer + have, static_cast<size_t>(size) - have, &got);
    if (err == kDecodeOk && got == 0) err = kDecodeBadArchive;
    have += got;
  }
  if (err == kDecodeOk) err = finishFolder(d);
  if (err == kDecodeOk && f->crcDefined && crc32Update(0, buffer, have) != f->crc)
    err = kDecodeCrcMismatch;
  closeFolderDecoder(d);
  if (err) {
    free(buffer);
    return err;
  }
  *out = buffer;
  *outSize = have;
  return kDecodeOk;
}

uint64_t readLe64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; i--) v = v << 8 | p[i];
  return v;
}

uint32_t readLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint32_t readArchive(const ArchiveSource* source, ArchiveInfo* a) {
  uint8_t sig[kSignatureHeaderSize];
  if (source->size < kSignatureHeaderSize) return kDecodeBadArchive;
  if (!source->readAt(source->context, 0, sig, sizeof sig)) return kDecodeReadFailed;
  if (memcmp(sig, kSignature, sizeof kSignature) != 0) return kDecodeBadArchive;
  if (sig[6] != 0) return kDecodeUnsupported;
  if (crc32Update(0, sig + 12, 20) != readLe32(sig + 8)) return kDecodeCrcMismatch;
  uint64_t nextOffset = readLe64(sig + 12);
  uint64_t nextSize = readLe64(sig + 20);
  uint32_t nextCrc = readLe32(sig + 28);
  uint64_t afterSignature = source->size - kSignatureHeaderSize;
  if (nextOffset > afterSignature || nextSize > afterSignature - nextOffset)
    return kDecodeBadArchive;
  // An archive without entries has no header at all.
  if (nextSize == 0) return kDecodeOk;
  if (nextSize > kMaxHeaderSize) return kDecodeUnsupported;
  size_t size = static_cast<size_t>(nextSize);
  a->header = static_cast<uint8_t*>(malloc(size));
  if (!a->header) return kDecodeNoMemory;
  if (!source->readAt(source->context, kSignatureHeaderSize + nextOffset, a->header, size))
    return kDecodeReadFailed;
  if (crc32Update(0, a->header, size) != nextCrc) return kDecodeCrcMismatch;
  for (int nesting = 0;; nesting++) {
    Reader r = {a->header, size, 0, kDecodeOk};
    uint8_t id = readByte(&r);
    if (id == kHeader) return parseHeader(&r, a, source->size);
    if (id != kEncodedHeader || nesting == kMaxHeaderNesting) return kDecodeBadArchive;
    StreamsInfo packed = {};
    uint32_t err = parseStreamsInfo(&r, &packed, source->size);
    uint8_t* unpacked = nullptr;
    if (err == kDecodeOk) err = unpackHeader(source, &packed, &unpacked, &size);
    freeStreamsInfo(&packed);
    if (err) return err;
    free(a->header);
    a->header = unpacked;
  }
}

void freeArchiveInfo(ArchiveInfo* a) {
  freeStreamsInfo(&a->streams);
  free(a->files);
  free(a->names);
  free(a->header);
}

uint32_t checkNames(ArchiveInfo* a) {
  for (uint32_t i = 0; i < a->numFiles; i++) {
    FileItem* f = &a->files[i];
    if (f->isAnti) continue;
    if (!a->names || !normalizeEntryName(a->names + f->nameStart, f->nameLength))
      return kDecodeUnsafeName;
  }
  return kDecodeOk;
}

// Walks the folders' streams in order while files ask for them.
struct FolderCursor {
  const ArchiveSource* source;
  const StreamsInfo* streams;
  uint32_t folder;     // the open folder, or the next one to open
  uint32_t subStream;  // index over all substreams
  uint32_t leftInFolder;
  uint32_t folderCrc;
  FolderDecoder* decoder;
};

uint32_t openNextFolder(FolderCursor* c) {
  while (c->folder < c->streams->numFolders && c->streams->numSubStreams[c->folder] == 0)
    c->folder++;
  if (c->folder >= c->streams->numFolders) return kDecodeBadArchive;
  const FolderLayout* f = &c->streams->folders[c->folder];
  c->leftInFolder = c->streams->numSubStreams[c->folder];
  c->folderCrc = 0;
  return openFolderDecoder(c->source, f, c->streams->packs + f->firstPackStream, &c->decoder);
}

uint32_t closeFolderIfDone(FolderCursor* c) {
  if (c->leftInFolder != 0) return kDecodeOk;
  const FolderLayout* f = &c->streams->folders[c->folder];
  uint32_t err = finishFolder(c->decoder);
  if (err == kDecodeOk && f->crcDefined && c->folderCrc != f->crc) err = kDecodeCrcMismatch;
  closeFolderDecoder(c->decoder);
  c->decoder = nullptr;
  c->folder++;
  return err;
}

// Copies the next substream into the open file, checking its CRC and, at the
// end of its folder, the folder's.
uint32_t writeStream(FolderCursor* c, const ExtractTarget* target, void* file, uint8_t* buffer) {
  uint32_t err = kDecodeOk;
  if (!c->decoder && (err = openNextFolder(c)) != kDecodeOk) return err;
  const SubStream* sub = &c->streams->subs[c->subStream];
  uint64_t left = sub->size;
  uint32_t crc = 0;
  while (left > 0) {
    size_t want = left < kCopyBufferSize ? static_cast<size_t>(left) : kCopyBufferSize;
    size_t got = 0;
    if ((err = readFolder(c->decoder, buffer, want, &got)) != kDecodeOk) return err;
    if (got == 0) return kDecodeBadArchive;
    crc = crc32Update(crc, buffer, got);
    c->folderCrc = crc32Update(c->folderCrc, buffer, got);
    if ((err = target->writeFile(target->context, file, buffer, got)) != kDecodeOk) return err;
    left -= got;
  }
  if (sub->crcDefined && crc != sub->crc) return kDecodeCrcMismatch;
  c->subStream++;
  c->leftInFolder--;
  return closeFolderIfDone(c);
}

uint32_t extractEntries(const ArchiveSource* source, const ExtractTarget* target,
                        const ArchiveInfo* a) {
  uint8_t* buffer = static_cast<uint8_t*>(malloc(kCopyBufferSize));
  if (!buffer) return kDecodeNoMemory;
  FolderCursor cursor = {source, &a->streams, 0, 0, 0, 0, nullptr};
  uint32_t err = kDecodeOk;
  for (uint32_t i = 0; i < a->numFiles && err == kDecodeOk; i++) {
    const FileItem* f = &a->files[i];
    const uint16_t* name = a->names + f->nameStart;
    // Anti items tell an updater to delete; unpacking has nothing to do for them.
    if (f->isAnti) continue;
    if (f->isDir) {
      err = target->makeFolder(target->context, name);
      continue;
    }
    void* file = nullptr;
    if ((err = target->createFile(target->context, name, &file)) != kDecodeOk) break;
    if (f->hasStream) err = writeStream(&cursor, target, file, buffer);
    uint32_t closeErr = target->closeFile(target->context, file, name, err == kDecodeOk);
    if (err == kDecodeOk) err = closeErr;
    if (err == kDecodeOk) err = target->fileDone(target->context, name);
  }
  closeFolderDecoder(cursor.decoder);
  free(buffer);
  return err;
}

}  // namespace

uint32_t extractArchive(const ArchiveSource* source, const ExtractTarget* target) {
  ArchiveInfo a = {};
  uint32_t err = readArchive(source, &a);
  if (err == kDecodeOk) err = checkNames(&a);
  if (err == kDecodeOk) err = extractEntries(source, target, &a);
  freeArchiveInfo(&a);
  return err;
}
