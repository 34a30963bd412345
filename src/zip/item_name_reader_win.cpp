// Win32 code.
#include "zip/item_name_reader_win.h"

#include <algorithm>

#include "sysenv/wide_text_win.h"
#include "zip/stored_name.h"

namespace zip {

namespace {

// Reads `size` bytes at `offset` of the archive through the reader's own read function, which
// reports a short read.
bool readExactly(mz_zip_archive& reader, mz_uint64 offset, std::string& bytes, std::size_t size) {
  bytes.resize(size);
  return size == 0 || reader.m_pRead(reader.m_pIO_opaque, offset, bytes.data(), size) == size;
}

// The raw name, the extra field and the fields of an item's central directory header: the library
// gives neither the extra field nor a name of any length.
bool readCentralName(mz_zip_archive& reader, const mz_zip_archive_file_stat& stat, CentralHeaderFields& fields,
                     std::string& rawName, std::string& extraField) {
  const mz_uint64 at = reader.m_central_directory_file_ofs + stat.m_central_dir_ofs;
  std::string header;
  if (at > reader.m_archive_size || reader.m_archive_size - at < kCentralHeaderSize ||
      !readExactly(reader, at, header, kCentralHeaderSize) || !parseCentralHeader(header, fields)) {
    return false;
  }
  std::string rest;
  const std::size_t restSize = std::size_t{fields.nameLength} + fields.extraLength;
  if (reader.m_archive_size - at - kCentralHeaderSize < restSize ||
      !readExactly(reader, at + kCentralHeaderSize, rest, restSize)) {
    return false;
  }
  rawName = rest.substr(0, fields.nameLength);
  extraField = rest.substr(fields.nameLength);
  return true;
}

}  // namespace

std::optional<std::wstring> readItemName(mz_zip_archive& reader, const mz_zip_archive_file_stat& stat) {
  CentralHeaderFields fields;
  std::string rawName, extraField;
  if (!readCentralName(reader, stat, fields, rawName, extraField)) return std::nullopt;
  const StoredName stored = chooseStoredName(fields, rawName, extraField);
  std::wstring name;
  if (stored.utf8) {
    const std::optional<std::u16string> decoded = decodeUtf8ItemName(stored.bytes);
    if (!decoded) return std::nullopt;
    name = sysenv::toWide(*decoded);
  } else {
    const std::string cut = stored.bytes.substr(0, MAX_PATH - 1);
    wchar_t ansi[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, cut.c_str(), -1, ansi, MAX_PATH) == 0) return std::nullopt;
    name = ansi;
  }
  std::replace(name.begin(), name.end(), L'/', L'\\');
  return name;
}

}  // namespace zip
