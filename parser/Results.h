// Result and anomaly codes of the parser library. Internal operations return
// a result code (0 is success); damage in a stream is never returned, it is
// counted in the anomaly record of the reader that met it.
#pragma once

#include <cstdint>

namespace parser {

using Result = std::uint32_t;

inline constexpr Result RESULT_OK = 0;

// Results of the readers.
inline constexpr Result ResultNoMemory = 0x330001;
inline constexpr Result ResultSetupFailed = 0x330002;
inline constexpr Result ResultAppendFailed = 0x330003;
inline constexpr Result ResultNeedMoreData = 0x330004;
inline constexpr Result ResultUnsupported = 0x330007;

// Results of the table section assemblers.
inline constexpr Result ResultSectionMalformed = 0x330103;
inline constexpr Result ResultWrongTableId = 0x330104;
inline constexpr Result ResultCrcMismatch = 0x330105;
inline constexpr Result ResultDiscontinuity = 0x330107;

// Results of the PES assemblers.
// A unit does not begin with a start code: it is dropped without an anomaly.
inline constexpr Result ResultUnitWithoutStartCode = 0x330108;

// Anomalies, reported with severity 1 while parsing goes on.
inline constexpr std::uint32_t ANOMALY_SEVERITY = 1;
inline constexpr std::uint32_t AnomalyLostSync = 0x330201;
inline constexpr std::uint32_t AnomalyTransportError = 0x330202;
inline constexpr std::uint32_t AnomalyPacketNotBuffered = 0x330203;
inline constexpr std::uint32_t AnomalyNoAdaptationNoPayload = 0x330204;
inline constexpr std::uint32_t AnomalyAdaptationMalformed = 0x330205;
inline constexpr std::uint32_t AnomalyPointerPastBuffer = 0x330206;
inline constexpr std::uint32_t AnomalyPointerPastPayload = 0x330207;
inline constexpr std::uint32_t AnomalyPrivateDataLength = 0x330208;
inline constexpr std::uint32_t AnomalyPatFailed = 0x330209;
inline constexpr std::uint32_t AnomalyPmtFailed = 0x33020a;
inline constexpr std::uint32_t AnomalySitFailed = 0x33020b;
inline constexpr std::uint32_t AnomalyPesContinuity = 0x33020f;
inline constexpr std::uint32_t AnomalyPesMalformed = 0x330210;
inline constexpr std::uint32_t AnomalyProgramStreamPes = 0x330211;
inline constexpr std::uint32_t AnomalyPackFormChanged = 0x330212;

}  // namespace parser
