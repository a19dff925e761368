// Enumerations shared by the dataset layer, the ODBC driver and the commands.
#pragma once

#include <cstdint>

namespace velquarn {

// Field types, in this order (their ordinal values are part of the design).
enum TFieldType : uint8_t {
  ftUnknown, ftString, ftSmallint, ftInteger, ftWord, ftBoolean, ftFloat,
  ftCurrency, ftBCD, ftDate, ftTime, ftDateTime, ftBytes, ftVarBytes,
  ftAutoInc, ftBlob, ftMemo, ftGraphic, ftFmtMemo, ftParadoxOle, ftDBaseOle,
  ftTypedBinary, ftCursor, ftFixedChar, ftWideString, ftLargeint, ftADT,
  ftArray, ftReference, ftDataSet, ftOraBlob, ftOraClob, ftVariant,
  ftInterface, ftIDispatch, ftGuid, ftTimeStamp, ftFMTBcd, ftFixedWideChar,
  ftWideMemo, ftOraTimeStamp, ftOraInterval
};

enum TParamType : uint8_t { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

enum TTransIsolation : uint8_t { tiDirtyRead, tiReadCommitted, tiRepeatableRead };

enum TUpdateKind : uint8_t { ukModify, ukInsert, ukDelete };
enum TUpdateAction : uint8_t { uaFail, uaAbort, uaSkip, uaRetry, uaApplied };
enum TUpdateMode : uint8_t { upWhereAll, upWhereChanged, upWhereKeyOnly };

}  // namespace velquarn
