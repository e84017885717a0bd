#include "job/start_run.h"

#include <cstdio>

#include "core/messages.h"
#include "job/source_info.h"
#include "media/lav/output_codecs.h"
#include "media/source.h"

namespace {

// Stored values the dialog can't produce go back to their defaults; the
// front end hears of each.
void CorrectStoredSettings(ConversionSettings& settings, const FrontEnd& frontEnd) {
    for (const SettingCorrection& c : BringSettingsIntoRange(settings))
        if (frontEnd.settingCorrected) frontEnd.settingCorrected(frontEnd.context, SettingCorrectionText(c).c_str());
}

}  // namespace

RunResult OpenSourceChecked(const FrontEnd& frontEnd, MediaState& media, const char* path,
                            const SourceOptions& options) {
    const UserCalls user = UserCallsOf(frontEnd);
    switch (CheckSourceFile(path)) {
        case SourceCheck::cannotOpen:
            ShowMessage(user, nullptr, IDS_CAPTION, IDS_CANNOT_OPEN_SOURCE, MB_ICONERROR);
            return sourceCannotOpen;
        case SourceCheck::tooLarge:
            ShowMessage(user, nullptr, IDS_CAPTION, IDS_SOURCE_TOO_LARGE, MB_ICONERROR);
            return sourceTooLarge;
        case SourceCheck::admitted: break;
    }
    const RunResult opened = OpenSource(media, path, options);
    if (opened != sourceOpened) ShowMessage(user, nullptr, IDS_CAPTION, ResultMessageId(opened), MB_ICONERROR);
    return opened;
}

std::int32_t RunOutputHeight(const ConversionSettings& settings, const SourceMedia& source,
                             std::optional<int> typedHeight) {
    // As the main dialog derives it when a source is chosen.
    const int presetHeight =
        AspectOutputHeight(static_cast<int>(settings.aspect), source.fileInfo.dwWidth, source.fileInfo.dwHeight);
    const int height = typedHeight        ? *typedHeight
                       : presetHeight > 0 ? presetHeight
                                          : static_cast<int>(source.fileInfo.dwHeight);
    return height < 1 ? 1 : height > 32767 ? 32767 : height;
}

RunResult PrepareConversion(RunSession& session, const FrontEnd& frontEnd, const char* sourcePath,
                            const char* destinationPath, std::optional<int> typedHeight, bool save) {
    ConversionSettings& settings = session.settings;
    CorrectStoredSettings(settings, frontEnd);  // before the aspect gives the height
    std::snprintf(settings.sourcePath, sizeof settings.sourcePath, "%s", sourcePath);
    std::snprintf(settings.destinationPath, sizeof settings.destinationPath, "%s", destinationPath);
    SourceOptions options = session.sourceOptions;
    options.audio16Bit = OutputContainerOf(settings.destinationPath) != OutputContainer::avi;
    const RunResult opened = OpenSourceChecked(frontEnd, session.media, settings.sourcePath, options);
    if (opened != sourceOpened) return opened;
    settings.outputHeight = RunOutputHeight(settings, session.media.source, typedHeight);
    if (save && !SaveSettings(UserCallsOf(frontEnd), nullptr, settings)) return settingsStoreFailed;
    return sourceOpened;
}

RunResult StartConversion(RunSession& session, const FrontEnd& frontEnd, HWND owner) {
    const UserCalls user = UserCallsOf(frontEnd);
    // Every front end's run passes here; after PrepareConversion nothing is left to change.
    CorrectStoredSettings(session.settings, frontEnd);
    if (!session.tablesBuilt) session.tablesBuilt = BuildKernelTables(session.tables);
    if (!session.tablesBuilt) {
        ReleaseKernelTables(session.tables);  // what was built before the failure
        ShowMessage(user, nullptr, IDS_CAPTION, IDS_MEMORY_PROBLEM, MB_ICONERROR);
        CloseMedia(session.media, nullptr, false);
        return conversionNoMemory;
    }
    ConversionRun& run = session.run;
    run.settings = &session.settings;
    run.media = &session.media;
    run.job = &session.job;
    run.tables = &session.tables;
    run.control = &session.control;
    run.frontEnd = frontEnd;
    run.owner = owner;
    if (!StartWorker(session.worker, run)) {
        ShowMessage(user, nullptr, IDS_CAPTION, IDS_MEMORY_PROBLEM, MB_ICONERROR);
        CloseMedia(session.media, nullptr, false);
        return conversionNoMemory;
    }
    return conversionDone;
}

RunResult WaitForConversion(RunSession& session, void (*serve)(void* context), void* context) {
    return WaitForWorker(session.worker, serve, context);
}

RunResult ConvertFile(RunSession& session, const FrontEnd& frontEnd, const char* sourcePath,
                      const char* destinationPath, std::optional<int> typedHeight, bool save) {
    const RunResult prepared = PrepareConversion(session, frontEnd, sourcePath, destinationPath, typedHeight, save);
    if (prepared != sourceOpened) return prepared;
    const RunResult started = StartConversion(session, frontEnd);
    if (started != conversionDone) return started;
    const RunResult result = WaitForConversion(session);
    CloseMedia(session.media, nullptr, false);
    return result;
}
