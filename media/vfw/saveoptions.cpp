// AVISaveOptions and its presenters, and the attachments a record may carry.
#include "media/vfw/saveoptions.h"

#include <map>
#include <mutex>
#include <new>

namespace {

std::mutex lock;
std::map<uint32_t, std::vector<uint8_t>> attachments;
uint32_t lastNumber = 0;

bool Alive(uint32_t number) {
    std::lock_guard<std::mutex> hold(lock);
    return attachments.count(number) != 0;
}

void Release(uint32_t number) {
    std::lock_guard<std::mutex> hold(lock);
    attachments.erase(number);
}

bool ApplyChoice(void* context, void* /*owner*/, uint32_t flags, int32_t streams, PAVISTREAM* /*ppavi*/,
                 AVICOMPRESSOPTIONS** options) {
    const auto* choice = static_cast<const AviOptionsChoice*>(context);
    if (!choice->confirm) return false;
    for (int32_t i = 0; i < streams; ++i) {
        AVICOMPRESSOPTIONS& o = *options[i];
        o.fccType = streamtypeVIDEO;
        if (choice->fccHandler) o.fccHandler = *choice->fccHandler;
        if (choice->quality) o.dwQuality = *choice->quality;
        if ((flags & ICMF_CHOOSE_KEYFRAME) && choice->keyFrameEvery) {
            o.dwKeyFrameEvery = *choice->keyFrameEvery;
            o.dwFlags = o.dwKeyFrameEvery ? o.dwFlags | AVICOMPRESSF_KEYFRAMES : o.dwFlags & ~AVICOMPRESSF_KEYFRAMES;
        }
        if ((flags & ICMF_CHOOSE_DATARATE) && choice->bytesPerSecond) {
            o.dwBytesPerSecond = *choice->bytesPerSecond;
            o.dwFlags = o.dwBytesPerSecond ? o.dwFlags | AVICOMPRESSF_DATARATE : o.dwFlags & ~AVICOMPRESSF_DATARATE;
        }
        if (!choice->parms.empty()) {
            const uint32_t number = AviOptionsAttach(choice->parms.data(), static_cast<uint32_t>(choice->parms.size()));
            if (number == 0) return false;
            o.lpParms = number;
            o.cbParms = static_cast<uint32_t>(choice->parms.size());
        }
        o.dwFlags |= AVICOMPRESSF_VALID;
    }
    return true;
}

}  // namespace

AviOptionsPresenter AviChoicePresenter(const AviOptionsChoice* choice) {
    return {ApplyChoice, const_cast<AviOptionsChoice*>(choice)};
}

uint32_t AviOptionsAttach(const void* data, uint32_t size) {
    std::lock_guard<std::mutex> hold(lock);
    try {
        // Numbers are never 0 and never reused while alive.
        do {
            ++lastNumber;
        } while (lastNumber == 0 || attachments.count(lastNumber));
        const auto* p = static_cast<const uint8_t*>(data);
        attachments.emplace(lastNumber, std::vector<uint8_t>(p, p + size));
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return lastNumber;
}

bool AviOptionsAttachment(uint32_t number, std::vector<uint8_t>* data) {
    std::lock_guard<std::mutex> hold(lock);
    const auto it = attachments.find(number);
    if (it == attachments.end()) return false;
    if (data) *data = it->second;
    return true;
}

size_t AviOptionsAttachmentCount() {
    std::lock_guard<std::mutex> hold(lock);
    return attachments.size();
}

int32_t AVISaveOptions(void* hwnd, uint32_t uiFlags, int32_t nStreams, PAVISTREAM* ppavi,
                       AVICOMPRESSOPTIONS** plpOptions, const AviOptionsPresenter* presenter) {
    if (nStreams < 1 || !plpOptions) return 0;
    for (int32_t i = 0; i < nStreams; ++i) {
        AVICOMPRESSOPTIONS* o = plpOptions[i];
        if (!o) return 0;
        // A record read back from the settings carries numbers of an earlier
        // process; they name nothing here.
        if (o->lpFormat && !Alive(o->lpFormat)) o->lpFormat = o->cbFormat = 0;
        if (o->lpParms && !Alive(o->lpParms)) o->lpParms = o->cbParms = 0;
    }
    if (!presenter || !presenter->present) return 1;
    return presenter->present(presenter->context, hwnd, uiFlags, nStreams, ppavi, plpOptions) ? 1 : 0;
}

AVIRESULT AVISaveOptionsFree(int32_t nStreams, AVICOMPRESSOPTIONS** plpOptions) {
    if (nStreams < 0 || (nStreams > 0 && !plpOptions)) return AVIERR_BADPARAM;
    for (int32_t i = 0; i < nStreams; ++i) {
        AVICOMPRESSOPTIONS* o = plpOptions[i];
        if (!o) continue;
        if (o->lpFormat) Release(o->lpFormat);
        if (o->lpParms) Release(o->lpParms);
        o->lpFormat = o->cbFormat = 0;
        o->lpParms = o->cbParms = 0;
    }
    return AVIERR_OK;
}
