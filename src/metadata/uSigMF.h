// Recordings described by a JSON metadata file: NAME.sigmf-meta beside the samples in
// NAME.sigmf-data.
#pragma once

#include "metadata/uMetadata.h"

#include <string>

// Bytes of a metadata file read at most; a larger one is left unread, with a note.
inline constexpr int64_t SIGMF_MAX_META_BYTES = 64 * 1024 * 1024;

// Whether the file name ends in .sigmf-data or .sigmf-meta (any case).
bool IsSigMFName(const std::string &Path);
// NAME.sigmf-meta for NAME.sigmf-data or NAME.sigmf-meta, in the case the name uses; else empty.
std::string SigMFMetaPath(const std::string &Path);

// Fills M from the metadata file: rate, centre, format hint "sigmf:<datatype>" and the
// annotations as signals, within the sidecar bounds. Returns false, with a note in M.Notes
// and a log line, when the file is not valid JSON, is too large or is not a JSON object; M
// then keeps nothing from it. Throws EFileStreamError when the file cannot be read.
bool LoadSigMF(const std::string &MetaPath, TIQMetadata &M);
