// The camera settings: one row per property of the root item. This one list generates the
// exports, drives the tests and names the settings of the fotex host.
//
// X(kind, id, getter, setter)
//   kind   Integer (VT_I4, read and write), ReadOnly (VT_I4, no setter), Text (VT_BSTR)
//   setter NoSetter on ReadOnly rows
// Some pairs differ in name on purpose (GetPanPosition / SetPanPos, ...): the exported names are
// the published ABI.
#pragma once

#define FOTEX_PROPERTY_TABLE(X)                                                \
    X(Integer, 2052, GetExposureMode, SetExposureMode)                         \
    X(Integer, 2053, GetExposureComp, SetExposureComp)                         \
    X(Integer, 2054, GetExposureTime, SetExposureTime)                         \
    X(Integer, 2055, GetFNumber, SetFNumber)                                   \
    X(Integer, 2056, GetFlashMode, SetFlashMode)                               \
    X(Integer, 2057, GetFocusMode, SetFocusMode)                               \
    X(Integer, 2060, GetPanPosition, SetPanPos)                                \
    X(Integer, 2061, GetTiltPosition, SetTiltPos)                              \
    X(Integer, 2062, GetTimerMode, SetTimerMode)                               \
    X(Integer, 2063, GetTimerValue, SetTimerValue)                             \
    X(ReadOnly, 2064, GetPowerMode, NoSetter)                                  \
    X(ReadOnly, 2065, GetBatteryStatus, NoSetter)                              \
    X(Integer, 2066, GetThumbWidth, SetThumbWidth)                             \
    X(Integer, 2067, GetThumbHeight, SetThumbHeight)                           \
    X(Integer, 2068, GetPictWidth, SetPictWidth)                               \
    X(Integer, 2069, GetPictHeight, SetPictHeight)                             \
    X(Integer, 2071, GetComprSetting, SetComprSetting)                         \
    X(Integer, 2073, GetTimeLapseInterval, SetTimeElapseInterval)              \
    X(Integer, 2074, GetTimeLapseNumber, SetTimeLapseNumber)                   \
    X(Integer, 2075, GetBurstInterval, SetBurstInterval)                       \
    X(Integer, 2076, GetBurstNumber, SetBurstNumber)                           \
    X(Integer, 2077, GetEffectMode, SetEffectMode)                             \
    X(Integer, 2078, GetDigitalZoom, SetDigitalZoom)                           \
    X(Integer, 2079, GetSharpness, SetSharpness)                               \
    X(Integer, 2080, GetContrast, SetContrast)                                 \
    X(Integer, 2081, GetCaptMode, SetCaptMode)                                 \
    X(Integer, 2082, GetCaptDelay, SetCaptDelay)                               \
    X(Integer, 2083, GetExposIndex, SetExposureIndex)                          \
    X(Integer, 2084, GetExposMetMode, SetExposMetMode)                         \
    X(Integer, 2085, GetFocusMetMode, SetFocusMetMode)                         \
    X(Integer, 2086, GetFocusDist, SetFocusDist)                               \
    X(ReadOnly, 2087, GetFocusLength, NoSetter)                                \
    X(Text, 2088, GetRGBGain, SetRGBGain)                                      \
    X(Integer, 2089, GetWhiteBalance, SetWhiteBalance)                         \
    X(Text, 2090, GetUploadURL, SetUploadURL)                                  \
    X(Text, 2091, GetArtist, SetArtist)                                        \
    X(Text, 2092, GetCopyRight, SetCopyRight)
