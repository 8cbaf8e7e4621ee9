#include "audio/mix_format_win.h"

#include "audio/loopback_capture.h"

namespace service {
namespace {

// The two sub-formats of an extensible format that matter here; defined locally so
// that no GUID library has to be linked for them.
constexpr GUID kSubtypePcm = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr GUID kSubtypeIeeeFloat = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

} // namespace

HRESULT coerceMixFormatToInt16(WAVEFORMATEX* format) {
    switch (format->wFormatTag) {
    case WAVE_FORMAT_IEEE_FLOAT:
        format->wFormatTag = WAVE_FORMAT_PCM;
        break;
    case WAVE_FORMAT_EXTENSIBLE: {
        auto* extensible = reinterpret_cast<WAVEFORMATEXTENSIBLE*>(format);
        if (!IsEqualGUID(extensible->SubFormat, kSubtypeIeeeFloat)) {
            capturePrint("Don't know how to coerce mix format to int-16\n");
            return E_UNEXPECTED;
        }
        extensible->SubFormat = kSubtypePcm;
        extensible->Samples.wValidBitsPerSample = 16;
        break;
    }
    default:
        capturePrint("Don't know how to coerce WAVEFORMATEX with wFormatTag = 0x%08x to int-16\n",
                     unsigned(format->wFormatTag));
        return E_UNEXPECTED;
    }
    format->wBitsPerSample = 16;
    format->nBlockAlign = WORD(format->nChannels * 16 / 8);
    format->nAvgBytesPerSec = DWORD(format->nBlockAlign) * format->nSamplesPerSec;
    return S_OK;
}

LONG captureTimerPeriodMs(LONGLONG devicePeriod) {
    const auto period = static_cast<std::uint32_t>(devicePeriod);
    return LONG(period / 2 / 10000);
}

} // namespace service
