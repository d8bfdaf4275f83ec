// The ZelMotion component library: one filter class, registered with its two pins.

#include "filters/motion/MotionFilter.h"
#include "platform/media/FactoryTemplate.h"

// ---- component library -------------------------------------------------------------------

namespace {

const AMOVIESETUP_MEDIATYPE kPinTypes[] = {{&GUID_NULL, &GUID_NULL}};
const AMOVIESETUP_PIN kPins[] = {
    {"Input", FALSE, FALSE, FALSE, FALSE, &GUID_NULL, nullptr, 1, kPinTypes},
    {"Output", FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1, kPinTypes},
};
const AMOVIESETUP_FILTER kSetupFilter = {&CLSID_ZelMotion, "ZelMotion Filter", MERIT_DO_NOT_USE, 2, kPins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"ZelMotion Filter", &CLSID_ZelMotion, CMotionFilter::CreateInstance, nullptr, &kSetupFilter},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
