// The ZelSplitter component library: one filter class, registered with its input and
// four output pins.

#include "filters/splitter/SplitterFilter.h"
#include "platform/media/FactoryTemplate.h"

namespace {

const AMOVIESETUP_MEDIATYPE kPinTypes[] = {{&GUID_NULL, &GUID_NULL}};
const AMOVIESETUP_PIN kPins[] = {
    {"Input", FALSE, FALSE, FALSE, FALSE, &GUID_NULL, nullptr, 1, kPinTypes},
    {"Output", FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1, kPinTypes},
    {"Output", FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1, kPinTypes},
    {"Output", FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1, kPinTypes},
    {"Output", FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1, kPinTypes},
};
const AMOVIESETUP_FILTER kSetupFilter = {&CLSID_ZelSplitter, "ZEL Splitter", MERIT_DO_NOT_USE, 5, kPins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"ZEL Splitter", &CLSID_ZelSplitter, CSplitterFilter::CreateInstance, nullptr, &kSetupFilter},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
