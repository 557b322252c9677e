// Every OPC structure with each of its fields, and the types they are built
// from, as one list: the layout tables of widl's header (a C translation
// unit) and of our own declarations (C++) are made from it alike.
#pragma once

#include <stddef.h>

// TYPE(name) for a type's size; FIELD(structure, field) for a field's offset
// and size. Each structure's fields follow it, in their order.
#define KORVA_OPC_LAYOUT(TYPE, FIELD)           \
  TYPE(OPCHANDLE)                               \
  TYPE(OPCDATASOURCE)                           \
  TYPE(OPCBROWSETYPE)                           \
  TYPE(OPCNAMESPACETYPE)                        \
  TYPE(OPCBROWSEDIRECTION)                      \
  TYPE(OPCEUTYPE)                               \
  TYPE(OPCSERVERSTATE)                          \
  TYPE(OPCENUMSCOPE)                            \
  TYPE(OPCSERVERSTATUS)                         \
  FIELD(OPCSERVERSTATUS, ftStartTime)           \
  FIELD(OPCSERVERSTATUS, ftCurrentTime)         \
  FIELD(OPCSERVERSTATUS, ftLastUpdateTime)      \
  FIELD(OPCSERVERSTATUS, dwServerState)         \
  FIELD(OPCSERVERSTATUS, dwGroupCount)          \
  FIELD(OPCSERVERSTATUS, dwBandWidth)           \
  FIELD(OPCSERVERSTATUS, wMajorVersion)         \
  FIELD(OPCSERVERSTATUS, wMinorVersion)         \
  FIELD(OPCSERVERSTATUS, wBuildNumber)          \
  FIELD(OPCSERVERSTATUS, wReserved)             \
  FIELD(OPCSERVERSTATUS, szVendorInfo)          \
  TYPE(OPCITEMDEF)                              \
  FIELD(OPCITEMDEF, szAccessPath)               \
  FIELD(OPCITEMDEF, szItemID)                   \
  FIELD(OPCITEMDEF, bActive)                    \
  FIELD(OPCITEMDEF, hClient)                    \
  FIELD(OPCITEMDEF, dwBlobSize)                 \
  FIELD(OPCITEMDEF, pBlob)                      \
  FIELD(OPCITEMDEF, vtRequestedDataType)        \
  FIELD(OPCITEMDEF, wReserved)                  \
  TYPE(OPCITEMRESULT)                           \
  FIELD(OPCITEMRESULT, hServer)                 \
  FIELD(OPCITEMRESULT, vtCanonicalDataType)     \
  FIELD(OPCITEMRESULT, wReserved)               \
  FIELD(OPCITEMRESULT, dwAccessRights)          \
  FIELD(OPCITEMRESULT, dwBlobSize)              \
  FIELD(OPCITEMRESULT, pBlob)                   \
  TYPE(OPCITEMSTATE)                            \
  FIELD(OPCITEMSTATE, hClient)                  \
  FIELD(OPCITEMSTATE, ftTimeStamp)              \
  FIELD(OPCITEMSTATE, wQuality)                 \
  FIELD(OPCITEMSTATE, wReserved)                \
  FIELD(OPCITEMSTATE, vDataValue)               \
  TYPE(OPCITEMATTRIBUTES)                       \
  FIELD(OPCITEMATTRIBUTES, szAccessPath)        \
  FIELD(OPCITEMATTRIBUTES, szItemID)            \
  FIELD(OPCITEMATTRIBUTES, bActive)             \
  FIELD(OPCITEMATTRIBUTES, hClient)             \
  FIELD(OPCITEMATTRIBUTES, hServer)             \
  FIELD(OPCITEMATTRIBUTES, dwAccessRights)      \
  FIELD(OPCITEMATTRIBUTES, dwBlobSize)          \
  FIELD(OPCITEMATTRIBUTES, pBlob)               \
  FIELD(OPCITEMATTRIBUTES, vtRequestedDataType) \
  FIELD(OPCITEMATTRIBUTES, vtCanonicalDataType) \
  FIELD(OPCITEMATTRIBUTES, dwEUType)            \
  FIELD(OPCITEMATTRIBUTES, vEUInfo)             \
  TYPE(OPCGROUPHEADER)                          \
  FIELD(OPCGROUPHEADER, dwSize)                 \
  FIELD(OPCGROUPHEADER, dwItemCount)            \
  FIELD(OPCGROUPHEADER, hClientGroup)           \
  FIELD(OPCGROUPHEADER, dwTransactionID)        \
  FIELD(OPCGROUPHEADER, hrStatus)               \
  TYPE(OPCITEMHEADER1)                          \
  FIELD(OPCITEMHEADER1, hClient)                \
  FIELD(OPCITEMHEADER1, dwValueOffset)          \
  FIELD(OPCITEMHEADER1, wQuality)               \
  FIELD(OPCITEMHEADER1, wReserved)              \
  FIELD(OPCITEMHEADER1, ftTimeStampItem)        \
  TYPE(OPCITEMHEADER2)                          \
  FIELD(OPCITEMHEADER2, hClient)                \
  FIELD(OPCITEMHEADER2, dwValueOffset)          \
  FIELD(OPCITEMHEADER2, wQuality)               \
  FIELD(OPCITEMHEADER2, wReserved)              \
  TYPE(OPCGROUPHEADERWRITE)                     \
  FIELD(OPCGROUPHEADERWRITE, dwItemCount)       \
  FIELD(OPCGROUPHEADERWRITE, hClientGroup)      \
  FIELD(OPCGROUPHEADERWRITE, dwTransactionID)   \
  FIELD(OPCGROUPHEADERWRITE, hrStatus)          \
  TYPE(OPCITEMHEADERWRITE)                      \
  FIELD(OPCITEMHEADERWRITE, hClient)            \
  FIELD(OPCITEMHEADERWRITE, dwError)

// One row of a table: the type's size (offset 0), or the field's offset and size.
struct KorvaLayoutRow {
  const char* name;
  size_t offset;
  size_t size;
};

#define KORVA_LAYOUT_TYPE(type) {#type, 0, sizeof(type)},
#define KORVA_LAYOUT_FIELD(structure, field) \
  {#structure "." #field, offsetof(structure, field), sizeof(((structure*)0)->field)},

#ifdef __cplusplus
extern "C" {
#endif
// The table of widl's header; *count receives its rows.
const struct KorvaLayoutRow* KorvaWidlLayout(size_t* count);
#ifdef __cplusplus
}
#endif
