// Decodes one folder of a 7z archive: a small graph of coders (Copy, LZMA,
// LZMA2, the x86 branch filters BCJ and BCJ2) fed by packed streams of the file.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "archive_decoder.h"

// A folder that needs more coders or streams than this is refused as
// unsupported; the richest one the methods above can form (BCJ2 with three
// LZMA coders) has four coders and seven input streams.
const uint32_t kMaxFolderCoders = 4;
const uint32_t kMaxFolderStreams = 8;

// A dictionary (or a stream's whole output, when smaller) above this size is
// refused rather than allocated; the largest preset of the 7z tool uses 64 MiB.
#ifndef DECODER_MAX_DICTIONARY
#define DECODER_MAX_DICTIONARY (1024u * 1024u * 1024u)
#endif

struct FolderCoder {
  uint8_t methodId[8];
  uint32_t methodIdSize;
  uint32_t numInStreams;
  const uint8_t* props;  // points into the archive's header buffer
  uint32_t propsSize;
  uint64_t unpackSize;   // size of the coder's one output stream
};

// A folder as the header describes it. Every coder has exactly one output
// stream, so an output stream's index is its coder's index.
struct FolderLayout {
  uint32_t numCoders;
  FolderCoder coders[kMaxFolderCoders];
  uint32_t numBindPairs;
  uint32_t bindInIndex[kMaxFolderStreams];
  uint32_t bindOutIndex[kMaxFolderStreams];
  uint32_t numPackedStreams;
  uint32_t packedInIndex[kMaxFolderStreams];
  uint32_t mainCoder;        // the coder whose output nobody consumes: the folder's data
  uint32_t firstPackStream;  // index of the folder's first packed stream in the archive
  uint32_t crcDefined;
  uint32_t crc;
};

struct PackStreamInfo {
  uint64_t offset;  // absolute position in the archive file
  uint64_t size;
  uint32_t crcDefined;
  uint32_t crc;
};

struct FolderDecoder;

// 0 when every coder of the folder is one we decode, else kDecodeUnsupported;
// lets the caller refuse an archive before writing anything.
uint32_t checkFolderSupported(const FolderLayout* folder);

// Builds the decoder for a folder whose packed streams are `packs` (the
// folder's own, in order). 0 or a DecodeError; on success *decoder owns memory.
uint32_t openFolderDecoder(const ArchiveSource* source, const FolderLayout* folder,
                           const PackStreamInfo* packs, FolderDecoder** decoder);

// Reads the next bytes of the folder's data; *got is 0 only at its end.
// 0 or a DecodeError.
uint32_t readFolder(FolderDecoder* decoder, uint8_t* buffer, size_t size, size_t* got);

// After the folder's data: reads what is left of packed streams that carry a
// CRC and checks it. 0 or a DecodeError.
uint32_t finishFolder(FolderDecoder* decoder);

void closeFolderDecoder(FolderDecoder* decoder);
