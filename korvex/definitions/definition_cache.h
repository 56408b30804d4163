// The definition cache: the records of a definition file as 100-byte images.
//
// Layout (after the 256-byte cache header), little endian:
//   256  4  format version 9 (signed 32 bit)
//   260  2  number of records = highest defined handle + 1
//   262     one 100-byte DInfo image per handle from 0 upward; handles
//           without a definition carry the image of an empty record
#ifndef KORVEX_DEFINITIONS_DEFINITION_CACHE_H_
#define KORVEX_DEFINITIONS_DEFINITION_CACHE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "korvex/definitions/dinfo.h"
#include "korvex/handles/cache_file.h"

class TAppl;

namespace korvex::definitions {

// The cache of the first count records of table (missing ones empty), with
// the header of textFile (stamp 0 when its stamp cannot be taken).
std::vector<unsigned char> EncodeDefinitionCache(const char* textFile,
                                                 const std::vector<DInfo*>& table,
                                                 std::uint16_t count);
// Decodes the records of a whole cache file into one new block (a start
// reads thousands of them; one allocation instead of one each) and appends
// their addresses to table; the caller keeps the block as long as the table.
// False, with block and table untouched, for a damaged cache. application,
// when given, shows progress.
bool DecodeDefinitionCache(const unsigned char* bytes, std::size_t size, DInfoRun& block,
                           std::vector<DInfo*>& table, TAppl* application);
// Reads the cache at path and decodes it as above, in the memory the file is
// read into (a start's largest file is read once and not copied again).
// decoded tells whether the records went into block and table; a damaged
// cache answers Ok with decoded false.
files::ReadResult ReadDefinitionCache(const char* path, DInfoRun& block,
                                      std::vector<DInfo*>& table, TAppl* application,
                                      bool& decoded);

}  // namespace korvex::definitions

#endif  // KORVEX_DEFINITIONS_DEFINITION_CACHE_H_
