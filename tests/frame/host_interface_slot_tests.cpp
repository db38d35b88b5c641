// Every operation of the host interfaces must sit at the host's slot. With the
// Itanium C++ ABI (g++ and mingw-w64 g++ alike) a pointer to a virtual member
// function holds 1 + the byte offset of its vtable entry.
#include <gtest/gtest.h>

#include <cstring>

#include "frame/host_interfaces.h"

namespace {

template <class F>
long SlotOf(F member)
{
    static_assert(sizeof(F) == 2 * sizeof(std::ptrdiff_t));
    std::ptrdiff_t raw[2];
    std::memcpy(raw, &member, sizeof(raw));
    EXPECT_EQ(raw[0] % static_cast<std::ptrdiff_t>(sizeof(void*)), 1) << "not a virtual function";
    return static_cast<long>((raw[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*)));
}

#define EXPECT_SLOT(member, slot) EXPECT_EQ(SlotOf(&member), slot) << #member

TEST(HostInterfaceSlots, IUnknownComesFirst)
{
    // The Windows headers add a template overload of QueryInterface.
    using QueryInterfaceFn = HRESULT (STDMETHODCALLTYPE IUnknown::*)(REFIID, void**);
    EXPECT_EQ(SlotOf(static_cast<QueryInterfaceFn>(&IUnknown::QueryInterface)), 0);
    EXPECT_SLOT(IUnknown::AddRef, 1);
    EXPECT_SLOT(IUnknown::Release, 2);
}

TEST(HostInterfaceSlots, MediaItem)
{
    EXPECT_SLOT(IHostMediaItem::get_Path, 8);
    EXPECT_SLOT(IHostMediaItem::put_Size, 9);
    EXPECT_SLOT(IHostMediaItem::get_Size, 10);
    EXPECT_SLOT(IHostMediaItem::get_PacketFormat, 12);
    EXPECT_SLOT(IHostMediaItem::get_Duration, 14);
    EXPECT_SLOT(IHostMediaItem::get_BitRate, 16);
    EXPECT_SLOT(IHostMediaItem::get_VideoStreamCount, 18);
    EXPECT_SLOT(IHostMediaItem::get_AudioStreamCount, 20);
    EXPECT_SLOT(IHostMediaItem::get_VideoStream, 24);
    EXPECT_SLOT(IHostMediaItem::get_AudioStream, 26);
}

TEST(HostInterfaceSlots, VideoDescriptions)
{
    EXPECT_SLOT(IHostMpeg2VideoDescription::get_Profile, 8);
    EXPECT_SLOT(IHostMpeg2VideoDescription::get_BitRateFlag, 10);
    EXPECT_SLOT(IHostMpeg2VideoDescription::get_PrimaryBitRate, 12);
    EXPECT_SLOT(IHostMpeg2VideoDescription::get_AspectRatioCode, 14);
    EXPECT_SLOT(IHostMpeg2VideoDescription::get_SecondaryBitRate, 16);
    EXPECT_SLOT(IHostMpeg2VideoDescription::get_FrameRate, 18);
    EXPECT_SLOT(IHostMpeg2VideoDescription::get_Level, 20);
    EXPECT_SLOT(IHostMpeg2VideoDescription::get_Width, 24);
    EXPECT_SLOT(IHostMpeg2VideoDescription::get_Height, 26);

    EXPECT_SLOT(IHostAvcVideoDescription::get_Profile, 8);
    EXPECT_SLOT(IHostAvcVideoDescription::get_Level, 10);
    EXPECT_SLOT(IHostAvcVideoDescription::get_BitRateFlag, 12);
    EXPECT_SLOT(IHostAvcVideoDescription::get_SecondaryBitRate, 14);
    EXPECT_SLOT(IHostAvcVideoDescription::get_PrimaryBitRate, 16);
    EXPECT_SLOT(IHostAvcVideoDescription::get_AspectRatioCode, 18);
    EXPECT_SLOT(IHostAvcVideoDescription::get_FrameRate, 20);
    EXPECT_SLOT(IHostAvcVideoDescription::get_Width, 22);
    EXPECT_SLOT(IHostAvcVideoDescription::get_Height, 24);
}

TEST(HostInterfaceSlots, AudioDescriptions)
{
    EXPECT_SLOT(IHostAc3AudioDescription::get_SampleRate, 8);
    EXPECT_SLOT(IHostAc3AudioDescription::get_Channels, 10);
    EXPECT_SLOT(IHostAc3AudioDescription::get_BitRate, 12);
    EXPECT_SLOT(IHostMpegAudioDescription::get_SampleRate, 8);
    EXPECT_SLOT(IHostMpegAudioDescription::get_Channels, 12);
    EXPECT_SLOT(IHostMpegAudioDescription::get_BitRate, 14);
    EXPECT_SLOT(IHostOtherAudioDescription::get_SampleRate, 8);
    EXPECT_SLOT(IHostOtherAudioDescription::get_Channels, 12);
}

TEST(HostInterfaceSlots, Settings)
{
    EXPECT_SLOT(IHostSettingsSource::get_Keys, 3);
    EXPECT_SLOT(IHostSettingsKeyCollection::get_Item, 5);
    EXPECT_SLOT(IHostSettingsKey::get_Values, 4);
    EXPECT_SLOT(IHostSettingsValueCollection::get_Item, 5);
    EXPECT_SLOT(IHostSettingsValue::get_Text, 4);
}

TEST(HostInterfaceSlots, CreatedObjects)
{
    EXPECT_SLOT(IHostTargetDescription::get_MimeType, 3);
    EXPECT_SLOT(IHostTargetDescription::put_MimeType, 4);
    EXPECT_SLOT(IHostTargetDescription::get_ProfileName, 5);
    EXPECT_SLOT(IHostTargetDescription::put_ProfileName, 6);
    EXPECT_SLOT(IHostTargetDescription::get_TargetFlag1, 7);
    EXPECT_SLOT(IHostTargetDescription::put_TargetFlag1, 8);
    EXPECT_SLOT(IHostTargetDescription::get_TargetFlag2, 9);
    EXPECT_SLOT(IHostTargetDescription::put_TargetFlag2, 10);
    EXPECT_SLOT(IHostTargetDescription::get_TargetFlag3, 11);
    EXPECT_SLOT(IHostTargetDescription::put_TargetFlag3, 12);
    EXPECT_SLOT(IHostTargetDescriptionExt::get_AlternativeProfileName, 3);
    EXPECT_SLOT(IHostTargetDescriptionExt::put_AlternativeProfileName, 4);
    EXPECT_SLOT(IHostMediaProperty::put_Name, 4);
    EXPECT_SLOT(IHostMediaProperty::put_Value, 6);
}

}  // namespace
