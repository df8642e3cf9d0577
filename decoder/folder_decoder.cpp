#include "folder_decoder.h"

#include <stdlib.h>
#include <string.h>

#include "LzmaDec.h"
#include "crc32.h"

// Part of the reference decoder but not of its header: LZMA2 needs it to start
// each chunk's range coder while keeping or resetting dictionary and state.
extern "C" void LzmaDec_InitDicAndState(CLzmaDec* p, Bool initDic, Bool initState);

namespace {

const size_t kInputBufferSize = 1 << 16;
const size_t kFilterBufferSize = 1 << 16;

enum StreamKind { kStreamPack, kStreamCopy, kStreamLzma, kStreamLzma2, kStreamBcj, kStreamBcj2 };

struct CoderStream;

// Buffered reading from another stream of the graph.
struct InputBuffer {
  CoderStream* from;
  uint8_t* data;
  size_t pos;
  size_t end;
  int atEnd;
};

struct PackState {
  uint64_t offset;
  uint32_t crcDefined;
  uint32_t crc;
  uint32_t expectedCrc;
};

struct LzmaState {
  CLzmaDec dec;
  int probsAllocated;
  uint8_t* dict;
  size_t dictCap;
};

struct Lzma2State {
  uint32_t dictSize;
  uint32_t chunkUnpack;  // bytes of the current chunk still to come out
  uint32_t chunkPack;    // compressed bytes of the current chunk still to read
  int chunkIsLzma;
  int needDictReset;
  int needProps;
  uint8_t propsByte;
};

struct BcjState {
  uint8_t* buf;
  size_t pos;      // next converted byte to hand out
  size_t convEnd;  // end of the converted bytes
  size_t end;      // end of the bytes in the buffer
  uint32_t ip;
  uint32_t mask;
  int inputDone;
};

struct Bcj2State {
  uint16_t probs[2 + 256];
  uint32_t range;
  uint32_t code;
  int rcReady;
  uint8_t prevByte;
  uint8_t pending[4];
  uint32_t pendingPos;
  uint32_t pendingCount;
};

struct CoderStream {
  StreamKind kind;
  FolderDecoder* owner;
  uint64_t outSize;
  uint64_t outPos;
  uint32_t numInputs;
  InputBuffer in[4];
  CoderStream* direct;  // the Copy coder reads its input unbuffered
  PackState pack;
  LzmaState lzma;
  Lzma2State lzma2;
  BcjState bcj;
  Bcj2State bcj2;
};

}  // namespace

struct FolderDecoder {
  const ArchiveSource* source;
  uint32_t error;
  CoderStream* main;
  CoderStream coders[kMaxFolderCoders];
  CoderStream packs[kMaxFolderStreams];
  uint32_t numPacks;
  int built[kMaxFolderCoders];
};

namespace {

void* lzmaAlloc(void*, size_t size) { return malloc(size); }
void lzmaFree(void*, void* address) { free(address); }
ISzAlloc kLzmaAlloc = {lzmaAlloc, lzmaFree};

int64_t fail(CoderStream* s, uint32_t error) {
  if (s->owner->error == kDecodeOk) s->owner->error = error;
  return -1;
}

int64_t streamRead(CoderStream* s, uint8_t* out, size_t size);

// Makes input bytes available: their count, 0 at the end of the input, -1 on error.
int64_t inputAvailable(InputBuffer* in) {
  if (in->pos < in->end) return static_cast<int64_t>(in->end - in->pos);
  if (in->atEnd) return 0;
  int64_t n = streamRead(in->from, in->data, kInputBufferSize);
  if (n < 0) return -1;
  in->pos = 0;
  in->end = static_cast<size_t>(n);
  if (n == 0) in->atEnd = 1;
  return n;
}

// One byte of input; 1, or 0 when the input ended or failed.
int inputByte(CoderStream* s, InputBuffer* in, uint8_t* value) {
  int64_t n = inputAvailable(in);
  if (n <= 0) {
    if (n == 0) fail(s, kDecodeBadArchive);
    return 0;
  }
  *value = in->data[in->pos++];
  return 1;
}

int64_t readPack(CoderStream* s, uint8_t* out, size_t size) {
  if (!s->owner->source->readAt(s->owner->source->context, s->pack.offset + s->outPos, out, size))
    return fail(s, kDecodeReadFailed);
  if (s->pack.crcDefined) s->pack.crc = crc32Update(s->pack.crc, out, size);
  return static_cast<int64_t>(size);
}

int64_t readCopy(CoderStream* s, uint8_t* out, size_t size) {
  int64_t n = streamRead(s->direct, out, size);
  if (n == 0) return fail(s, kDecodeBadArchive);
  return n;
}

// The dictionary holds min(dictionary size, whole output): a smaller ring would
// let a distance reach before its start, and the output never needs more.
uint32_t allocateDictionary(LzmaState* st, uint32_t dictSize, uint64_t outSize) {
  uint64_t cap = dictSize < 4096 ? 4096 : dictSize;
  if (outSize < cap) cap = outSize;
  if (cap == 0) cap = 1;
  if (cap > DECODER_MAX_DICTIONARY) return kDecodeUnsupported;
  st->dict = static_cast<uint8_t*>(malloc(static_cast<size_t>(cap)));
  if (!st->dict) return kDecodeNoMemory;
  st->dictCap = static_cast<size_t>(cap);
  st->dec.dic = st->dict;
  st->dec.dicBufSize = st->dictCap;
  st->dec.dicPos = 0;
  return kDecodeOk;
}

// Runs the LZMA decoder into the dictionary for at most `want` bytes, reading at
// most `inLimit` input bytes; copies what came out to `out`. Returns the bytes
// produced (0 possible while it only took input), or -1. *consumed gets the input used.
int64_t lzmaStep(CoderStream* s, InputBuffer* in, uint64_t inLimit, uint8_t* out, size_t want,
                 size_t* consumed, ELzmaStatus* status) {
  LzmaState* st = &s->lzma;
  if (st->dec.dicPos == st->dictCap) st->dec.dicPos = 0;
  size_t room = st->dictCap - st->dec.dicPos;
  if (want > room) want = room;
  int64_t avail = inputAvailable(in);
  if (avail < 0) return -1;
  SizeT srcLen = static_cast<SizeT>(avail);
  if (srcLen > inLimit) srcLen = static_cast<SizeT>(inLimit);
  size_t start = st->dec.dicPos;
  SRes res = LzmaDec_DecodeToDic(&st->dec, start + want, in->data + in->pos, &srcLen,
                                 LZMA_FINISH_ANY, status);
  in->pos += srcLen;
  *consumed = srcLen;
  size_t produced = st->dec.dicPos - start;
  memcpy(out, st->dict + start, produced);
  if (res != SZ_OK) return fail(s, kDecodeBadArchive);
  if (produced == 0 && srcLen == 0) {
    // No progress: the input is exhausted (truncated) or the stream ended early.
    return fail(s, kDecodeBadArchive);
  }
  return static_cast<int64_t>(produced);
}

int64_t readLzma(CoderStream* s, uint8_t* out, size_t size) {
  for (;;) {
    size_t consumed = 0;
    ELzmaStatus status;
    int64_t n = lzmaStep(s, &s->in[0], UINT64_MAX, out, size, &consumed, &status);
    if (n != 0) return n;
    // An end mark before the declared size means the data is short.
    if (status == LZMA_STATUS_FINISHED_WITH_MARK) return fail(s, kDecodeBadArchive);
  }
}

uint32_t lzma2DictSize(uint8_t prop) {
  if (prop == 40) return 0xFFFFFFFFu;
  return (2u | (prop & 1u)) << (prop / 2 + 11);
}

// Reads the next chunk header; 1, or 0 on error (already recorded).
int lzma2StartChunk(CoderStream* s) {
  Lzma2State* st = &s->lzma2;
  InputBuffer* in = &s->in[0];
  uint8_t control, b1, b2;
  if (!inputByte(s, in, &control)) return 0;
  if (control == 0 || (control > 2 && control < 0x80)) {
    // 0 ends the stream, which is early since output is still owed; 3..0x7F are undefined.
    fail(s, kDecodeBadArchive);
    return 0;
  }
  if (!inputByte(s, in, &b1) || !inputByte(s, in, &b2)) return 0;
  uint32_t unpack = (static_cast<uint32_t>(b1) << 8 | b2) + 1;
  if (control < 0x80) {
    if (control == 2 && st->needDictReset) {
      fail(s, kDecodeBadArchive);
      return 0;
    }
    if (control == 1) {
      // After a dictionary reset the next compressed chunk must bring its properties.
      st->needProps = 1;
      LzmaDec_InitDicAndState(&s->lzma.dec, 1, 0);
    }
    st->needDictReset = 0;
    st->chunkIsLzma = 0;
    st->chunkUnpack = unpack;
    st->chunkPack = 0;
    return 1;
  }
  uint32_t mode = (control >> 5) & 3;
  unpack += static_cast<uint32_t>(control & 0x1F) << 16;
  uint8_t p1, p2;
  if (!inputByte(s, in, &p1) || !inputByte(s, in, &p2)) return 0;
  uint32_t pack = (static_cast<uint32_t>(p1) << 8 | p2) + 1;
  if (mode >= 2) {
    uint8_t prop;
    if (!inputByte(s, in, &prop)) return 0;
    if (prop >= 9 * 5 * 5) {
      fail(s, kDecodeBadArchive);
      return 0;
    }
    uint32_t lc = prop % 9, lp = (prop / 9) % 5;
    if (lc + lp > 4) {
      fail(s, kDecodeBadArchive);
      return 0;
    }
    if (!s->lzma.probsAllocated || prop != st->propsByte) {
      uint8_t props[LZMA_PROPS_SIZE] = {prop, static_cast<uint8_t>(st->dictSize),
                                        static_cast<uint8_t>(st->dictSize >> 8),
                                        static_cast<uint8_t>(st->dictSize >> 16),
                                        static_cast<uint8_t>(st->dictSize >> 24)};
      SRes res = LzmaDec_AllocateProbs(&s->lzma.dec, props, LZMA_PROPS_SIZE, &kLzmaAlloc);
      if (res != SZ_OK) {
        fail(s, res == SZ_ERROR_MEM ? kDecodeNoMemory : kDecodeBadArchive);
        return 0;
      }
      s->lzma.probsAllocated = 1;
      st->propsByte = prop;
    }
    st->needProps = 0;
  } else if (st->needProps) {
    fail(s, kDecodeBadArchive);
    return 0;
  }
  if (mode != 3 && st->needDictReset) {
    fail(s, kDecodeBadArchive);
    return 0;
  }
  st->needDictReset = 0;
  LzmaDec_InitDicAndState(&s->lzma.dec, mode == 3, mode > 0);
  st->chunkIsLzma = 1;
  st->chunkUnpack = unpack;
  st->chunkPack = pack;
  return 1;
}

int64_t lzma2Uncompressed(CoderStream* s, uint8_t* out, size_t want) {
  LzmaState* lz = &s->lzma;
  CLzmaDec* dec = &lz->dec;
  InputBuffer* in = &s->in[0];
  if (dec->dicPos == lz->dictCap) dec->dicPos = 0;
  size_t n = want;
  if (n > s->lzma2.chunkUnpack) n = s->lzma2.chunkUnpack;
  if (n > lz->dictCap - dec->dicPos) n = lz->dictCap - dec->dicPos;
  int64_t avail = inputAvailable(in);
  if (avail <= 0) return avail == 0 ? fail(s, kDecodeBadArchive) : -1;
  if (n > static_cast<size_t>(avail)) n = static_cast<size_t>(avail);
  memcpy(dec->dic + dec->dicPos, in->data + in->pos, n);
  memcpy(out, in->data + in->pos, n);
  in->pos += n;
  dec->dicPos += n;
  // Keeps the decoder's distance checks in step with the raw bytes it now holds.
  if (dec->checkDicSize == 0 && dec->prop.dicSize - dec->processedPos <= n)
    dec->checkDicSize = dec->prop.dicSize;
  dec->processedPos += static_cast<UInt32>(n);
  s->lzma2.chunkUnpack -= static_cast<uint32_t>(n);
  return static_cast<int64_t>(n);
}

int64_t readLzma2(CoderStream* s, uint8_t* out, size_t size) {
  Lzma2State* st = &s->lzma2;
  for (;;) {
    if (st->chunkUnpack == 0 && !lzma2StartChunk(s)) return -1;
    if (!st->chunkIsLzma) return lzma2Uncompressed(s, out, size);
    size_t want = size < st->chunkUnpack ? size : st->chunkUnpack;
    size_t consumed = 0;
    ELzmaStatus status;
    int64_t n = lzmaStep(s, &s->in[0], st->chunkPack, out, want, &consumed, &status);
    if (n < 0) return -1;
    st->chunkPack -= static_cast<uint32_t>(consumed);
    st->chunkUnpack -= static_cast<uint32_t>(n);
    if (status == LZMA_STATUS_FINISHED_WITH_MARK && st->chunkUnpack != 0)
      return fail(s, kDecodeBadArchive);
    // A chunk must use up exactly the compressed bytes its header announced.
    if (st->chunkUnpack == 0 && st->chunkPack != 0) return fail(s, kDecodeBadArchive);
    if (n > 0) return n;
  }
}

inline int isX86MsByte(uint8_t b) { return b == 0 || b == 0xFF; }

// Undoes the x86 branch conversion on data[0..size) whose first byte is at
// stream position ip. Returns how many bytes are final; the rest (at most four)
// must be presented again with the bytes that follow them.
size_t x86Convert(uint8_t* data, size_t size, uint32_t ip, uint32_t* state) {
  size_t pos = 0;
  uint32_t mask = *state & 7;
  if (size < 5) return 0;
  size -= 4;
  ip += 5;
  for (;;) {
    uint8_t* p = data + pos;
    const uint8_t* limit = data + size;
    while (p < limit && (*p & 0xFE) != 0xE8) p++;
    size_t d = static_cast<size_t>(p - data) - pos;
    pos = static_cast<size_t>(p - data);
    if (p >= limit) {
      *state = d > 2 ? 0 : mask >> d;
      return pos;
    }
    if (d > 2) {
      mask = 0;
    } else {
      mask >>= d;
      if (mask != 0 && (mask > 4 || mask == 3 || isX86MsByte(p[(mask >> 1) + 1]))) {
        mask = (mask >> 1) | 4;
        pos++;
        continue;
      }
    }
    if (isX86MsByte(p[4])) {
      uint32_t v = static_cast<uint32_t>(p[4]) << 24 | static_cast<uint32_t>(p[3]) << 16 |
                   static_cast<uint32_t>(p[2]) << 8 | p[1];
      uint32_t cur = ip + static_cast<uint32_t>(pos);
      pos += 5;
      v -= cur;
      if (mask != 0) {
        uint32_t sh = (mask & 6) << 2;
        if (isX86MsByte(static_cast<uint8_t>(v >> sh))) {
          v ^= (0x100u << sh) - 1;
          v -= cur;
        }
        mask = 0;
      }
      p[1] = static_cast<uint8_t>(v);
      p[2] = static_cast<uint8_t>(v >> 8);
      p[3] = static_cast<uint8_t>(v >> 16);
      p[4] = static_cast<uint8_t>(0 - ((v >> 24) & 1));
    } else {
      mask = (mask >> 1) | 4;
      pos++;
    }
  }
}

int64_t readBcj(CoderStream* s, uint8_t* out, size_t size) {
  BcjState* st = &s->bcj;
  while (st->pos == st->convEnd) {
    memmove(st->buf, st->buf + st->convEnd, st->end - st->convEnd);
    st->end -= st->convEnd;
    st->pos = st->convEnd = 0;
    while (!st->inputDone && st->end < kFilterBufferSize) {
      int64_t n = streamRead(s->direct, st->buf + st->end, kFilterBufferSize - st->end);
      if (n < 0) return -1;
      if (n == 0) st->inputDone = 1;
      st->end += static_cast<size_t>(n);
    }
    size_t done = x86Convert(st->buf, st->end, st->ip, &st->mask);
    st->ip += static_cast<uint32_t>(done);
    // The last few bytes of the stream can't hold a branch and stay as they are.
    st->convEnd = st->inputDone ? st->end : done;
    if (st->convEnd == 0) return fail(s, kDecodeBadArchive);
  }
  size_t n = st->convEnd - st->pos;
  if (n > size) n = size;
  memcpy(out, st->buf + st->pos, n);
  st->pos += n;
  return static_cast<int64_t>(n);
}

const uint32_t kBcj2TopValue = 1u << 24;

// One bit of the BCJ2 range decoder; 0 or 1, or -1 when its input ended.
int bcj2Bit(CoderStream* s, uint16_t* prob) {
  Bcj2State* st = &s->bcj2;
  uint32_t bound = (st->range >> 11) * *prob;
  int bit;
  if (st->code < bound) {
    st->range = bound;
    *prob = static_cast<uint16_t>(*prob + ((2048 - *prob) >> 5));
    bit = 0;
  } else {
    st->range -= bound;
    st->code -= bound;
    *prob = static_cast<uint16_t>(*prob - (*prob >> 5));
    bit = 1;
  }
  if (st->range < kBcj2TopValue) {
    uint8_t b;
    if (!inputByte(s, &s->in[3], &b)) return -1;
    st->range <<= 8;
    st->code = st->code << 8 | b;
  }
  return bit;
}

int64_t readBcj2(CoderStream* s, uint8_t* out, size_t size) {
  Bcj2State* st = &s->bcj2;
  InputBuffer* mainIn = &s->in[0];
  size_t produced = 0;
  uint64_t pos = s->outPos;
  while (produced < size) {
    if (st->pendingPos < st->pendingCount) {
      out[produced++] = st->pending[st->pendingPos++];
      pos++;
      continue;
    }
    int64_t avail = inputAvailable(mainIn);
    if (avail <= 0) {
      if (avail == 0) fail(s, kDecodeBadArchive);
      return -1;
    }
    // Plain bytes up to the next branch opcode go through in bulk.
    const uint8_t* src = mainIn->data + mainIn->pos;
    size_t limit = static_cast<size_t>(avail);
    if (limit > size - produced) limit = size - produced;
    size_t i = 0;
    uint8_t prev = st->prevByte;
    int isBranch = 0;
    while (i < limit) {
      uint8_t b = src[i++];
      out[produced++] = b;
      isBranch = (b & 0xFE) == 0xE8 || (prev == 0x0F && (b & 0xF0) == 0x80);
      if (isBranch) break;
      prev = b;
    }
    mainIn->pos += i;
    pos += i;
    if (!isBranch) {
      st->prevByte = prev;
      continue;
    }
    uint8_t b = out[produced - 1];
    // An opcode that is the stream's very last byte carries no bit.
    if (pos == s->outSize) {
      st->prevByte = b;
      break;
    }
    if (!st->rcReady) {
      st->code = 0;
      st->range = 0xFFFFFFFFu;
      for (int k = 0; k < 5; k++) {
        uint8_t c;
        if (!inputByte(s, &s->in[3], &c)) return -1;
        st->code = st->code << 8 | c;
      }
      st->rcReady = 1;
    }
    uint16_t* prob = b == 0xE8 ? &st->probs[prev] : b == 0xE9 ? &st->probs[256] : &st->probs[257];
    int bit = bcj2Bit(s, prob);
    if (bit < 0) return -1;
    if (bit == 0) {
      st->prevByte = b;
      continue;
    }
    InputBuffer* addr = b == 0xE8 ? &s->in[1] : &s->in[2];
    uint32_t src32 = 0;
    for (int k = 0; k < 4; k++) {
      uint8_t c;
      if (!inputByte(s, addr, &c)) return -1;
      src32 = src32 << 8 | c;
    }
    uint32_t dest = src32 - static_cast<uint32_t>(pos + 4);
    for (int k = 0; k < 4; k++) st->pending[k] = static_cast<uint8_t>(dest >> (8 * k));
    st->pendingPos = 0;
    st->pendingCount = 4;
    st->prevByte = static_cast<uint8_t>(dest >> 24);
  }
  return static_cast<int64_t>(produced);
}

// Reads at most `size` bytes; returns their count, 0 only once the stream has
// delivered its declared size, or -1 on error (recorded in the owner).
int64_t streamRead(CoderStream* s, uint8_t* out, size_t size) {
  uint64_t left = s->outSize - s->outPos;
  if (left == 0) return 0;
  if (size > left) size = static_cast<size_t>(left);
  if (size == 0) return 0;
  int64_t n = -1;
  switch (s->kind) {
    case kStreamPack: n = readPack(s, out, size); break;
    case kStreamCopy: n = readCopy(s, out, size); break;
    case kStreamLzma: n = readLzma(s, out, size); break;
    case kStreamLzma2: n = readLzma2(s, out, size); break;
    case kStreamBcj: n = readBcj(s, out, size); break;
    case kStreamBcj2: n = readBcj2(s, out, size); break;
  }
  if (n > 0) s->outPos += static_cast<uint64_t>(n);
  return n;
}

int methodIs(const FolderCoder* c, const uint8_t* id, uint32_t size) {
  return c->methodIdSize == size && memcmp(c->methodId, id, size) == 0;
}

const uint8_t kMethodCopy[] = {0x00};
const uint8_t kMethodLzma[] = {0x03, 0x01, 0x01};
const uint8_t kMethodLzma2[] = {0x21};
const uint8_t kMethodBcj[] = {0x03, 0x03, 0x01, 0x03};
const uint8_t kMethodBcj2[] = {0x03, 0x03, 0x01, 0x1B};

// Names the coder's kind, or refuses a method, input count or property size we
// don't decode.
uint32_t identifyCoder(const FolderCoder* c, StreamKind* kind, uint32_t* inputs) {
  uint32_t propsSize = 0;
  *inputs = 1;
  if (methodIs(c, kMethodCopy, sizeof kMethodCopy)) {
    *kind = kStreamCopy;
  } else if (methodIs(c, kMethodLzma, sizeof kMethodLzma)) {
    *kind = kStreamLzma;
    propsSize = LZMA_PROPS_SIZE;
  } else if (methodIs(c, kMethodLzma2, sizeof kMethodLzma2)) {
    *kind = kStreamLzma2;
    propsSize = 1;
    if (c->propsSize == 1 && c->props[0] > 40) return kDecodeUnsupported;
  } else if (methodIs(c, kMethodBcj, sizeof kMethodBcj)) {
    *kind = kStreamBcj;
  } else if (methodIs(c, kMethodBcj2, sizeof kMethodBcj2)) {
    *kind = kStreamBcj2;
    *inputs = 4;
  } else {
    return kDecodeUnsupported;
  }
  if (c->numInStreams != *inputs || c->propsSize != propsSize) return kDecodeUnsupported;
  return kDecodeOk;
}

uint32_t setUpCoder(CoderStream* s, const FolderCoder* c) {
  uint32_t err = identifyCoder(c, &s->kind, &s->numInputs);
  if (err != kDecodeOk) return err;
  switch (s->kind) {
    case kStreamLzma: {
      SRes res = LzmaDec_AllocateProbs(&s->lzma.dec, c->props, LZMA_PROPS_SIZE, &kLzmaAlloc);
      if (res != SZ_OK) return res == SZ_ERROR_MEM ? kDecodeNoMemory : kDecodeUnsupported;
      s->lzma.probsAllocated = 1;
      err = allocateDictionary(&s->lzma, s->lzma.dec.prop.dicSize, s->outSize);
      if (err != kDecodeOk) return err;
      LzmaDec_Init(&s->lzma.dec);
      break;
    }
    case kStreamLzma2: {
      s->lzma2.dictSize = lzma2DictSize(c->props[0]);
      s->lzma2.needDictReset = 1;
      s->lzma2.needProps = 1;
      s->lzma.dec.prop.dicSize = s->lzma2.dictSize < 4096 ? 4096 : s->lzma2.dictSize;
      err = allocateDictionary(&s->lzma, s->lzma2.dictSize, s->outSize);
      if (err != kDecodeOk) return err;
      break;
    }
    case kStreamBcj:
      s->bcj.buf = static_cast<uint8_t*>(malloc(kFilterBufferSize));
      if (!s->bcj.buf) return kDecodeNoMemory;
      break;
    case kStreamBcj2:
      for (uint16_t& p : s->bcj2.probs) p = 1024;
      break;
    default:
      break;
  }
  return kDecodeOk;
}

uint32_t buildCoder(FolderDecoder* d, const FolderLayout* f, uint32_t index) {
  if (index >= f->numCoders || d->built[index]) return kDecodeBadArchive;
  d->built[index] = 1;
  CoderStream* s = &d->coders[index];
  const FolderCoder* c = &f->coders[index];
  s->owner = d;
  s->outSize = c->unpackSize;
  uint32_t err = setUpCoder(s, c);
  if (err != kDecodeOk) return err;
  uint32_t firstIn = 0;
  for (uint32_t i = 0; i < index; i++) firstIn += f->coders[i].numInStreams;
  for (uint32_t j = 0; j < s->numInputs; j++) {
    uint32_t inIndex = firstIn + j;
    CoderStream* from = nullptr;
    for (uint32_t b = 0; b < f->numBindPairs && !from; b++) {
      if (f->bindInIndex[b] != inIndex) continue;
      err = buildCoder(d, f, f->bindOutIndex[b]);
      if (err != kDecodeOk) return err;
      from = &d->coders[f->bindOutIndex[b]];
    }
    for (uint32_t k = 0; k < f->numPackedStreams && !from; k++) {
      if (f->packedInIndex[k] == inIndex) from = &d->packs[k];
    }
    if (!from) return kDecodeBadArchive;
    if (s->kind == kStreamCopy || s->kind == kStreamBcj) {
      s->direct = from;
      continue;
    }
    s->in[j].from = from;
    s->in[j].data = static_cast<uint8_t*>(malloc(kInputBufferSize));
    if (!s->in[j].data) return kDecodeNoMemory;
  }
  return kDecodeOk;
}

}  // namespace

uint32_t checkFolderSupported(const FolderLayout* folder) {
  for (uint32_t i = 0; i < folder->numCoders; i++) {
    StreamKind kind;
    uint32_t inputs;
    uint32_t err = identifyCoder(&folder->coders[i], &kind, &inputs);
    if (err != kDecodeOk) return err;
  }
  return kDecodeOk;
}

uint32_t openFolderDecoder(const ArchiveSource* source, const FolderLayout* folder,
                           const PackStreamInfo* packs, FolderDecoder** decoder) {
  *decoder = nullptr;
  if (folder->numCoders == 0 || folder->numCoders > kMaxFolderCoders ||
      folder->numPackedStreams > kMaxFolderStreams || folder->mainCoder >= folder->numCoders)
    return kDecodeBadArchive;
  FolderDecoder* d = static_cast<FolderDecoder*>(calloc(1, sizeof(FolderDecoder)));
  if (!d) return kDecodeNoMemory;
  d->source = source;
  d->numPacks = folder->numPackedStreams;
  for (uint32_t k = 0; k < d->numPacks; k++) {
    CoderStream* p = &d->packs[k];
    p->kind = kStreamPack;
    p->owner = d;
    p->outSize = packs[k].size;
    p->pack.offset = packs[k].offset;
    p->pack.crcDefined = packs[k].crcDefined;
    p->pack.expectedCrc = packs[k].crc;
  }
  uint32_t err = buildCoder(d, folder, folder->mainCoder);
  if (err != kDecodeOk) {
    closeFolderDecoder(d);
    return err;
  }
  d->main = &d->coders[folder->mainCoder];
  *decoder = d;
  return kDecodeOk;
}

uint32_t readFolder(FolderDecoder* decoder, uint8_t* buffer, size_t size, size_t* got) {
  *got = 0;
  if (decoder->error != kDecodeOk) return decoder->error;
  int64_t n = streamRead(decoder->main, buffer, size);
  if (n < 0) return decoder->error != kDecodeOk ? decoder->error : kDecodeBadArchive;
  *got = static_cast<size_t>(n);
  return kDecodeOk;
}

uint32_t finishFolder(FolderDecoder* decoder) {
  uint8_t scratch[4096];
  for (uint32_t k = 0; k < decoder->numPacks; k++) {
    CoderStream* p = &decoder->packs[k];
    if (!p->pack.crcDefined) continue;
    int64_t n;
    while ((n = streamRead(p, scratch, sizeof scratch)) > 0) {
    }
    if (n < 0) return decoder->error;
    if (p->pack.crc != p->pack.expectedCrc) return kDecodeCrcMismatch;
  }
  return kDecodeOk;
}

void closeFolderDecoder(FolderDecoder* decoder) {
  if (!decoder) return;
  for (CoderStream& s : decoder->coders) {
    for (InputBuffer& in : s.in) free(in.data);
    if (s.lzma.probsAllocated) LzmaDec_FreeProbs(&s.lzma.dec, &kLzmaAlloc);
    free(s.lzma.dict);
    free(s.bcj.buf);
  }
  free(decoder);
}
