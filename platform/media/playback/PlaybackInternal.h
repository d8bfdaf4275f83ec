#pragma once
// Helpers shared by the playback filters.

#include <new>
#include <string>

#include "platform/media/CreateObject.h"

#include "platform/media/Sync.h"
#include "platform/media/Unknown.h"

namespace halvard::media::playback {

/// S_OK when the file exists and can be opened for reading; VFW_E_NOT_FOUND;
/// E_ACCESSDENIED; E_INVALIDARG for an empty name.
HRESULT CheckReadable(const std::string& path);

/// IFileSourceFilter::GetCurFile over a stored name (empty: not loaded, E_FAIL).
HRESULT CopyCurFile(CCritSec& lock, const std::wstring& name, LPOLESTR* file, AM_MEDIA_TYPE* pmt);

}  // namespace halvard::media::playback
