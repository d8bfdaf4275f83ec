// The ZelHDSimulation component library: one filter class, registered with its two pins.

#include "filters/hdsimulation/HDSimulationFilter.h"
#include "platform/media/FactoryTemplate.h"

namespace {

const AMOVIESETUP_MEDIATYPE kPinTypes[] = {{&MEDIATYPE_Video, &GUID_NULL}};
const AMOVIESETUP_PIN kPins[] = {
    {"Input", FALSE, FALSE, FALSE, FALSE, &GUID_NULL, nullptr, 1, kPinTypes},
    {"Output", FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1, kPinTypes},
};
const AMOVIESETUP_FILTER kSetupFilter = {&CLSID_ZelHDSimulation, "ZelHDSimulation", MERIT_DO_NOT_USE, 2, kPins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"ZelHDSimulation", &CLSID_ZelHDSimulation, CHDSimulationFilter::CreateInstance, nullptr, &kSetupFilter},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
