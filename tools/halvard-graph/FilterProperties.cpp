#include "tools/halvard-graph/FilterProperties.h"

#include <cstdlib>
#include <cstring>

namespace halvard::graphtool {
namespace {

bool ParseNumber(const std::string& text, long long minimum, long long maximum, long long* value) {
  if (text.empty() || text.front() == ' ') {
    return false;
  }
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || v < minimum || v > maximum) {
    return false;
  }
  *value = v;
  return true;
}

HRESULT Bad(std::string* error, const std::string& text) {
  *error = text;
  return E_INVALIDARG;
}

bool ParseArea(const std::string& text, MotionArea* area) {
  *area = MotionArea{};
  if (text == "all") {
    return true;
  }
  area->all = false;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    const std::size_t comma = text.find(',', pos);
    const std::string item = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    const std::size_t colon = item.find(':');
    long long a = 0;
    long long b = -1;
    if (colon == std::string::npos) {
      if (!ParseNumber(item, 0, 1'000'000, &a)) {
        return false;
      }
    } else if (!ParseNumber(item.substr(0, colon), 0, 1'000'000, &a) ||
               !ParseNumber(item.substr(colon + 1), 0, 1'000'000, &b)) {
      return false;
    }
    area->blocks.emplace_back(static_cast<long>(a), static_cast<long>(b));
    if (comma == std::string::npos) {
      break;
    }
    pos = comma + 1;
  }
  return !area->blocks.empty();
}

}  // namespace

HRESULT ParseSplitterProperties(const PropertyList& props, SplitterConfig* config, std::string* error) {
  for (const auto& [key, value] : props) {
    long long n = 0;
    if (key == "channels") {
      if (!ParseNumber(value, 0, 1000, &n)) {
        return Bad(error, "channels must be 0 ... 1000");
      }
      config->channelCount = static_cast<LONG>(n);
    } else if (key == "colour" || key == "color") {
      if (value == "YUY2" || value == "0") {
        config->colourFormat = 0;
      } else if (value == "RGB24" || value == "1") {
        config->colourFormat = 1;
      } else {
        return Bad(error, key + " must be YUY2 or RGB24 (0 or 1)");
      }
    } else if (key == "level") {
      if (!ParseNumber(value, 0, 2, &n)) {
        return Bad(error, "level must be 0, 1 or 2");
      }
      config->enhancementLevel = static_cast<LONG>(n);
    } else {
      return Bad(error, "property \"" + key + "\" is unknown (channels, colour, level)");
    }
  }
  return S_OK;
}

HRESULT ParseScalerProperties(const PropertyList& props, ScalerSettings* settings, std::string* error) {
  for (const auto& [key, value] : props) {
    long long n = 0;
    if (key == "width" || key == "height") {
      if (!ParseNumber(value, 1, 16384, &n)) {
        return Bad(error, key + " must be 1 ... 16384");
      }
      (key == "width" ? settings->width : settings->height) = static_cast<LONG>(n);
    } else if (key == "level") {
      if (!ParseNumber(value, 1, 8, &n)) {
        return Bad(error, "level must be 1 ... 8");
      }
      settings->level = static_cast<LONG>(n);
    } else {
      return Bad(error, "property \"" + key + "\" is unknown (width, height, level)");
    }
  }
  if (settings->level && (settings->width || settings->height)) {
    return Bad(error, "give level or width and height, not both");
  }
  if (settings->width.has_value() != settings->height.has_value()) {
    return Bad(error, "give width and height together");
  }
  return S_OK;
}

HRESULT ScalerOutputSize(const ScalerSettings& settings, std::optional<LONG> inputHeight, LONG* width, LONG* height,
                         std::string* error) {
  if (settings.width && settings.height) {
    *width = *settings.width;
    *height = *settings.height;
    return S_OK;
  }
  if (!settings.level) {
    return S_FALSE;
  }
  if (!inputHeight || *inputHeight <= 0) {
    return Bad(error, "level needs the input linked first (it scales the input's height)");
  }
  *width = *settings.level * 640;
  *height = *settings.level * 2 * *inputHeight;
  return S_OK;
}

HRESULT ParseMotionProperties(const PropertyList& props, MotionSettings* settings, std::string* error) {
  for (const auto& [key, value] : props) {
    long long n = 0;
    const auto dword = [&](std::optional<DWORD>* field) {
      if (!ParseNumber(value, 0, 0xFFFFFFFFLL, &n)) {
        return Bad(error, key + " must be 0 ... 4294967295");
      }
      *field = static_cast<DWORD>(n);
      return S_OK;
    };
    const auto lng = [&](std::optional<LONG>* field) {
      if (!ParseNumber(value, -0x80000000LL, 0x7FFFFFFFLL, &n)) {
        return Bad(error, key + " must be a whole number");
      }
      *field = static_cast<LONG>(n);
      return S_OK;
    };
    HRESULT hr = S_OK;
    if (key == "hold" || key == "holdPeriodMs") {
      hr = dword(&settings->holdPeriodMs);
    } else if (key == "rearm" || key == "rearmPeriodMs") {
      hr = dword(&settings->rearmPeriodMs);
    } else if (key == "reserved") {
      hr = dword(&settings->reserved);
    } else if (key == "width") {
      hr = lng(&settings->width);
    } else if (key == "height") {
      hr = lng(&settings->height);
    } else if (key == "top" || key == "topMargin") {
      hr = lng(&settings->topMargin);
    } else if (key == "bottom" || key == "bottomMargin") {
      hr = lng(&settings->bottomMargin);
    } else if (key == "bpp" || key == "bytesPerPixel") {
      hr = lng(&settings->bytesPerPixel);
    } else if (key == "block" || key == "blockSize") {
      hr = lng(&settings->blockSize);
    } else if (key == "threshold") {
      hr = lng(&settings->threshold);
    } else if (key == "area" || key == "areaBitmap") {
      MotionArea area;
      if (!ParseArea(value, &area)) {
        return Bad(error, "area must be \"all\" or a list of block indices or column:row pairs (0,1,5 or 2:0,3:0)");
      }
      settings->area = area;
    } else if (key == "window" || key == "notifyWindow") {
      return Bad(error, key + " is always the tool's own message window");
    } else {
      return Bad(error, "property \"" + key +
                            "\" is unknown (hold, rearm, reserved, width, height, top, bottom, bpp, block, threshold, "
                            "area)");
    }
    if (FAILED(hr)) {
      return hr;
    }
  }
  return S_OK;
}

void MergeMotionParams(const MotionSettings& s, const std::optional<UpstreamVideo>& upstream, MotionParams* params) {
  const auto take = [](const auto& field, auto* target) {
    if (field) {
      *target = *field;
    }
  };
  if (upstream) {
    params->width = upstream->width;
    params->height = upstream->height;
    params->bytesPerPixel = upstream->bytesPerPixel;
  }
  take(s.holdPeriodMs, &params->holdPeriodMs);
  take(s.rearmPeriodMs, &params->rearmPeriodMs);
  take(s.reserved, &params->reserved);
  take(s.width, &params->width);
  take(s.height, &params->height);
  take(s.topMargin, &params->topMargin);
  take(s.bottomMargin, &params->bottomMargin);
  take(s.bytesPerPixel, &params->bytesPerPixel);
  take(s.blockSize, &params->blockSize);
  take(s.threshold, &params->threshold);
}

HRESULT WriteMotionArea(const MotionArea& area, const MotionParams& params, BYTE* bitmap, std::string* error) {
  if (params.blockSize < 1 || params.width < 0 || params.height - params.topMargin - params.bottomMargin < 0) {
    return Bad(error, "area: the grid is empty");
  }
  const long long columns = params.width / params.blockSize;
  const long long rows = (static_cast<long long>(params.height) - params.topMargin - params.bottomMargin) /
                         params.blockSize;
  const long long count = columns * rows;
  if (count > static_cast<long long>(kAreaBitmapBytes) * 8) {
    return Bad(error, "area: " + std::to_string(count) + " blocks do not fit the bitmap of 5760");
  }
  std::vector<long long> bits;
  if (area.all) {
    for (long long i = 0; i < count; ++i) {
      bits.push_back(i);
    }
  }
  for (const auto& [a, b] : area.blocks) {
    const bool pair = b >= 0;
    if (pair ? (a >= columns || b >= rows) : a >= count) {
      const std::string block = pair ? std::to_string(a) + ":" + std::to_string(b) : std::to_string(a);
      return Bad(error, "area: block " + block + " is outside the grid of " + std::to_string(columns) + " x " +
                            std::to_string(rows) + " blocks");
    }
    bits.push_back(pair ? a + b * columns : a);
  }
  std::memset(bitmap, 0, kAreaBitmapBytes);
  for (long long bit : bits) {
    bitmap[bit / 8] = static_cast<BYTE>(bitmap[bit / 8] | (1u << (bit % 8)));
  }
  return S_OK;
}

}  // namespace halvard::graphtool
