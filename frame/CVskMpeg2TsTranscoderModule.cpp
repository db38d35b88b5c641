#include "frame/CVskMpeg2TsTranscoderModule.h"

CVskMpeg2TsTranscoderModule g_module;

void CVskMpeg2TsTranscoderModule::AddCommonReplacements(frame::CRegistrar& registrar) const
{
    registrar.AddReplacement(L"APPID", VSK_APPID_TEXT);
}
