// The binary contract of our OPC declarations, checked in both builds:
// structure sizes and offsets, interface ids against their published
// values, method slots, and the DA 1.0 stream formats' registration.
// The declarations come before the class library's headers on purpose:
// the platform's headers must not turn the library's names into macros.
#include <cstddef>
#include <cstring>
#include <string>

#include "opcserver/OPCDA.h"
#include "vcl/Forms.h"
#include "vcl/Messages.h"

#include <gtest/gtest.h>

namespace {

TEST(OPCDeclarationsTest, StructuresHaveThePlatformsLayout) {
  struct Shape {
    const char* name;
    size_t actual;
    size_t expected;
  };
  const Shape shapes[] = {
      {"VARIANT", sizeof(VARIANT), 24},
      {"FILETIME", sizeof(FILETIME), 8},
      {"GUID", sizeof(GUID), 16},
      {"OPCSERVERSTATUS", sizeof(OPCSERVERSTATUS), 56},
      {"OPCSERVERSTATUS.dwServerState", offsetof(OPCSERVERSTATUS, dwServerState), 24},
      {"OPCSERVERSTATUS.wMajorVersion", offsetof(OPCSERVERSTATUS, wMajorVersion), 36},
      {"OPCSERVERSTATUS.szVendorInfo", offsetof(OPCSERVERSTATUS, szVendorInfo), 48},
      {"OPCITEMDEF", sizeof(OPCITEMDEF), 48},
      {"OPCITEMDEF.bActive", offsetof(OPCITEMDEF, bActive), 16},
      {"OPCITEMDEF.pBlob", offsetof(OPCITEMDEF, pBlob), 32},
      {"OPCITEMDEF.vtRequestedDataType", offsetof(OPCITEMDEF, vtRequestedDataType), 40},
      {"OPCITEMRESULT", sizeof(OPCITEMRESULT), 24},
      {"OPCITEMRESULT.dwAccessRights", offsetof(OPCITEMRESULT, dwAccessRights), 8},
      {"OPCITEMRESULT.pBlob", offsetof(OPCITEMRESULT, pBlob), 16},
      {"OPCITEMSTATE", sizeof(OPCITEMSTATE), 40},
      {"OPCITEMSTATE.ftTimeStamp", offsetof(OPCITEMSTATE, ftTimeStamp), 4},
      {"OPCITEMSTATE.wQuality", offsetof(OPCITEMSTATE, wQuality), 12},
      {"OPCITEMSTATE.vDataValue", offsetof(OPCITEMSTATE, vDataValue), 16},
      {"OPCITEMATTRIBUTES", sizeof(OPCITEMATTRIBUTES), 80},
      {"OPCITEMATTRIBUTES.pBlob", offsetof(OPCITEMATTRIBUTES, pBlob), 40},
      {"OPCITEMATTRIBUTES.vtCanonicalDataType", offsetof(OPCITEMATTRIBUTES, vtCanonicalDataType),
       50},
      {"OPCITEMATTRIBUTES.dwEUType", offsetof(OPCITEMATTRIBUTES, dwEUType), 52},
      {"OPCITEMATTRIBUTES.vEUInfo", offsetof(OPCITEMATTRIBUTES, vEUInfo), 56},
      {"OPCGROUPHEADER", sizeof(OPCGROUPHEADER), 20},
      {"OPCGROUPHEADER.hrStatus", offsetof(OPCGROUPHEADER, hrStatus), 16},
      {"OPCITEMHEADER1", sizeof(OPCITEMHEADER1), 20},
      {"OPCITEMHEADER1.ftTimeStampItem", offsetof(OPCITEMHEADER1, ftTimeStampItem), 12},
      {"OPCITEMHEADER2", sizeof(OPCITEMHEADER2), 12},
      {"OPCGROUPHEADERWRITE", sizeof(OPCGROUPHEADERWRITE), 16},
      {"OPCITEMHEADERWRITE", sizeof(OPCITEMHEADERWRITE), 8},
      {"FORMATETC", sizeof(FORMATETC), 32},
      {"FORMATETC.dwAspect", offsetof(FORMATETC, dwAspect), 16},
      {"FORMATETC.tymed", offsetof(FORMATETC, tymed), 24},
      {"STGMEDIUM", sizeof(STGMEDIUM), 24},
      {"STGMEDIUM.hGlobal", offsetof(STGMEDIUM, hGlobal), 8},
      {"STGMEDIUM.pUnkForRelease", offsetof(STGMEDIUM, pUnkForRelease), 16},
      {"CONNECTDATA", sizeof(CONNECTDATA), 16},
      {"COAUTHIDENTITY", sizeof(COAUTHIDENTITY), 48},
      {"COAUTHIDENTITY.Domain", offsetof(COAUTHIDENTITY, Domain), 16},
      {"COAUTHIDENTITY.Flags", offsetof(COAUTHIDENTITY, Flags), 44},
      {"SAFEARRAY", sizeof(SAFEARRAY), 32},
      {"SAFEARRAY.pvData", offsetof(SAFEARRAY, pvData), 16},
      {"SAFEARRAY.rgsabound", offsetof(SAFEARRAY, rgsabound), 24},
      {"OPCDATASOURCE", sizeof(OPCDATASOURCE), 4},
      {"OPCSERVERSTATE", sizeof(OPCSERVERSTATE), 4},
  };
  for (const Shape& shape : shapes)
    EXPECT_EQ(shape.actual, shape.expected) << shape.name;
}

TEST(OPCDeclarationsTest, InterfaceIdsAreThePublishedOnes) {
  struct Id {
    const IID& iid;
    const OLECHAR* text;
  };
  const Id ids[] = {
      {IID_IOPCServer, OLESTR("{39C13A4D-011E-11D0-9675-0020AFD8ADB3}")},
      {IID_IOPCServerPublicGroups, OLESTR("{39C13A4E-011E-11D0-9675-0020AFD8ADB3}")},
      {IID_IOPCBrowseServerAddressSpace, OLESTR("{39C13A4F-011E-11D0-9675-0020AFD8ADB3}")},
      {IID_IOPCGroupStateMgt, OLESTR("{39C13A50-011E-11D0-9675-0020AFD8ADB3}")},
      {IID_IOPCPublicGroupStateMgt, OLESTR("{39C13A51-011E-11D0-9675-0020AFD8ADB3}")},
      {IID_IOPCSyncIO, OLESTR("{39C13A52-011E-11D0-9675-0020AFD8ADB3}")},
      {IID_IOPCAsyncIO, OLESTR("{39C13A53-011E-11D0-9675-0020AFD8ADB3}")},
      {IID_IOPCItemMgt, OLESTR("{39C13A54-011E-11D0-9675-0020AFD8ADB3}")},
      {IID_IEnumOPCItemAttributes, OLESTR("{39C13A55-011E-11D0-9675-0020AFD8ADB3}")},
      {IID_IOPCDataCallback, OLESTR("{39C13A70-011E-11D0-9675-0020AFD8ADB3}")},
      {IID_IOPCAsyncIO2, OLESTR("{39C13A71-011E-11D0-9675-0020AFD8ADB3}")},
      {IID_IOPCItemProperties, OLESTR("{39C13A72-011E-11D0-9675-0020AFD8ADB3}")},
      {IID_IOPCShutdown, OLESTR("{F31DFDE1-07B6-11D2-B2D8-0060083BA1FB}")},
      {IID_IOPCCommon, OLESTR("{F31DFDE2-07B6-11D2-B2D8-0060083BA1FB}")},
      {CATID_OPCDAServer10, OLESTR("{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}")},
      {CATID_OPCDAServer20, OLESTR("{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}")},
      {IID_IUnknown, OLESTR("{00000000-0000-0000-C000-000000000046}")},
      {IID_IClassFactory, OLESTR("{00000001-0000-0000-C000-000000000046}")},
      {IID_IEnumUnknown, OLESTR("{00000100-0000-0000-C000-000000000046}")},
      {IID_IEnumString, OLESTR("{00000101-0000-0000-C000-000000000046}")},
      {IID_IEnumFORMATETC, OLESTR("{00000103-0000-0000-C000-000000000046}")},
      {IID_IEnumSTATDATA, OLESTR("{00000105-0000-0000-C000-000000000046}")},
      {IID_IDataObject, OLESTR("{0000010E-0000-0000-C000-000000000046}")},
      {IID_IAdviseSink, OLESTR("{0000010F-0000-0000-C000-000000000046}")},
      {IID_IConnectionPointContainer, OLESTR("{B196B284-BAB4-101A-B69C-00AA00341D07}")},
      {IID_IEnumConnectionPoints, OLESTR("{B196B285-BAB4-101A-B69C-00AA00341D07}")},
      {IID_IConnectionPoint, OLESTR("{B196B286-BAB4-101A-B69C-00AA00341D07}")},
      {IID_IEnumConnections, OLESTR("{B196B287-BAB4-101A-B69C-00AA00341D07}")},
      {IID_ISupportErrorInfo, OLESTR("{DF0B3D60-548F-101B-8E65-08002B2BD119}")},
  };
  for (const Id& id : ids) {
    IID published = GUID_NULL;
    ASSERT_EQ(IIDFromString(id.text, &published), S_OK);
    EXPECT_TRUE(IsEqualIID(id.iid, published)) << platform::com::WideToUtf8(id.text);
  }
  EXPECT_TRUE(IsEqualIID(platform::com::IidOf<IOPCAsyncIO2>(), IID_IOPCAsyncIO2));
  EXPECT_TRUE(IsEqualIID(platform::com::IidOf<IConnectionPoint>(), IID_IConnectionPoint));
}

// The vtable slot of a virtual method, from its member pointer (the
// Itanium representation, which g++, clang and mingw-w64 all use).
template <class Method>
size_t Slot(Method method) {
  struct {
    uintptr_t pointer;
    ptrdiff_t adjustment;
  } representation;
  static_assert(sizeof method == sizeof representation);
  std::memcpy(&representation, &method, sizeof representation);
  return (representation.pointer - 1) / sizeof(void*);
}

TEST(OPCDeclarationsTest, MethodsSitInTheirPublishedSlots) {
  struct Expected {
    const char* name;
    size_t slot;
    size_t expected;
  };
  const Expected slots[] = {
      {"IUnknown::Release", Slot(&IUnknown::Release), 2},
      {"IOPCServer::AddGroup", Slot(&IOPCServer::AddGroup), 3},
      {"IOPCServer::GetErrorString", Slot(&IOPCServer::GetErrorString), 4},
      {"IOPCServer::GetGroupByName", Slot(&IOPCServer::GetGroupByName), 5},
      {"IOPCServer::GetStatus", Slot(&IOPCServer::GetStatus), 6},
      {"IOPCServer::RemoveGroup", Slot(&IOPCServer::RemoveGroup), 7},
      {"IOPCServer::CreateGroupEnumerator", Slot(&IOPCServer::CreateGroupEnumerator), 8},
      {"IOPCServerPublicGroups::RemovePublicGroup",
       Slot(&IOPCServerPublicGroups::RemovePublicGroup), 4},
      {"IOPCCommon::SetLocaleID", Slot(&IOPCCommon::SetLocaleID), 3},
      {"IOPCCommon::GetLocaleID", Slot(&IOPCCommon::GetLocaleID), 4},
      {"IOPCCommon::QueryAvailableLocaleIDs", Slot(&IOPCCommon::QueryAvailableLocaleIDs), 5},
      {"IOPCCommon::GetErrorString", Slot(&IOPCCommon::GetErrorString), 6},
      {"IOPCCommon::SetClientName", Slot(&IOPCCommon::SetClientName), 7},
      {"IOPCShutdown::ShutdownRequest", Slot(&IOPCShutdown::ShutdownRequest), 3},
      {"IOPCBrowseServerAddressSpace::QueryOrganization",
       Slot(&IOPCBrowseServerAddressSpace::QueryOrganization), 3},
      {"IOPCBrowseServerAddressSpace::ChangeBrowsePosition",
       Slot(&IOPCBrowseServerAddressSpace::ChangeBrowsePosition), 4},
      {"IOPCBrowseServerAddressSpace::BrowseOPCItemIDs",
       Slot(&IOPCBrowseServerAddressSpace::BrowseOPCItemIDs), 5},
      {"IOPCBrowseServerAddressSpace::GetItemID", Slot(&IOPCBrowseServerAddressSpace::GetItemID),
       6},
      {"IOPCBrowseServerAddressSpace::BrowseAccessPaths",
       Slot(&IOPCBrowseServerAddressSpace::BrowseAccessPaths), 7},
      {"IOPCItemProperties::QueryAvailableProperties",
       Slot(&IOPCItemProperties::QueryAvailableProperties), 3},
      {"IOPCItemProperties::GetItemProperties", Slot(&IOPCItemProperties::GetItemProperties), 4},
      {"IOPCItemProperties::LookupItemIDs", Slot(&IOPCItemProperties::LookupItemIDs), 5},
      {"IOPCGroupStateMgt::GetState", Slot(&IOPCGroupStateMgt::GetState), 3},
      {"IOPCGroupStateMgt::SetState", Slot(&IOPCGroupStateMgt::SetState), 4},
      {"IOPCGroupStateMgt::SetName", Slot(&IOPCGroupStateMgt::SetName), 5},
      {"IOPCGroupStateMgt::CloneGroup", Slot(&IOPCGroupStateMgt::CloneGroup), 6},
      {"IOPCPublicGroupStateMgt::MoveToPublic", Slot(&IOPCPublicGroupStateMgt::MoveToPublic), 4},
      {"IOPCItemMgt::AddItems", Slot(&IOPCItemMgt::AddItems), 3},
      {"IOPCItemMgt::ValidateItems", Slot(&IOPCItemMgt::ValidateItems), 4},
      {"IOPCItemMgt::RemoveItems", Slot(&IOPCItemMgt::RemoveItems), 5},
      {"IOPCItemMgt::SetActiveState", Slot(&IOPCItemMgt::SetActiveState), 6},
      {"IOPCItemMgt::SetClientHandles", Slot(&IOPCItemMgt::SetClientHandles), 7},
      {"IOPCItemMgt::SetDatatypes", Slot(&IOPCItemMgt::SetDatatypes), 8},
      {"IOPCItemMgt::CreateEnumerator", Slot(&IOPCItemMgt::CreateEnumerator), 9},
      {"IEnumOPCItemAttributes::Next", Slot(&IEnumOPCItemAttributes::Next), 3},
      {"IEnumOPCItemAttributes::Clone", Slot(&IEnumOPCItemAttributes::Clone), 6},
      {"IOPCSyncIO::Read", Slot(&IOPCSyncIO::Read), 3},
      {"IOPCSyncIO::Write", Slot(&IOPCSyncIO::Write), 4},
      {"IOPCAsyncIO::Read", Slot(&IOPCAsyncIO::Read), 3},
      {"IOPCAsyncIO::Write", Slot(&IOPCAsyncIO::Write), 4},
      {"IOPCAsyncIO::Refresh", Slot(&IOPCAsyncIO::Refresh), 5},
      {"IOPCAsyncIO::Cancel", Slot(&IOPCAsyncIO::Cancel), 6},
      {"IOPCDataCallback::OnDataChange", Slot(&IOPCDataCallback::OnDataChange), 3},
      {"IOPCDataCallback::OnReadComplete", Slot(&IOPCDataCallback::OnReadComplete), 4},
      {"IOPCDataCallback::OnWriteComplete", Slot(&IOPCDataCallback::OnWriteComplete), 5},
      {"IOPCDataCallback::OnCancelComplete", Slot(&IOPCDataCallback::OnCancelComplete), 6},
      {"IOPCAsyncIO2::Read", Slot(&IOPCAsyncIO2::Read), 3},
      {"IOPCAsyncIO2::Write", Slot(&IOPCAsyncIO2::Write), 4},
      {"IOPCAsyncIO2::Refresh2", Slot(&IOPCAsyncIO2::Refresh2), 5},
      {"IOPCAsyncIO2::Cancel2", Slot(&IOPCAsyncIO2::Cancel2), 6},
      {"IOPCAsyncIO2::SetEnable", Slot(&IOPCAsyncIO2::SetEnable), 7},
      {"IOPCAsyncIO2::GetEnable", Slot(&IOPCAsyncIO2::GetEnable), 8},
      // The standard interfaces: the platform's own on Windows, the
      // stand-in's natively.
      {"IClassFactory::LockServer", Slot(&IClassFactory::LockServer), 4},
      {"IEnumString::Clone", Slot(&IEnumString::Clone), 6},
      {"IDataObject::QueryGetData", Slot(&IDataObject::QueryGetData), 5},
      {"IDataObject::DAdvise", Slot(&IDataObject::DAdvise), 9},
      {"IDataObject::EnumDAdvise", Slot(&IDataObject::EnumDAdvise), 11},
      {"IAdviseSink::OnDataChange", Slot(&IAdviseSink::OnDataChange), 3},
      {"IAdviseSink::OnClose", Slot(&IAdviseSink::OnClose), 7},
      {"IConnectionPointContainer::FindConnectionPoint",
       Slot(&IConnectionPointContainer::FindConnectionPoint), 4},
      {"IConnectionPoint::Advise", Slot(&IConnectionPoint::Advise), 5},
      {"IConnectionPoint::EnumConnections", Slot(&IConnectionPoint::EnumConnections), 7},
      {"IEnumConnections::Clone", Slot(&IEnumConnections::Clone), 6},
      {"ISupportErrorInfo::InterfaceSupportsErrorInfo",
       Slot(&ISupportErrorInfo::InterfaceSupportsErrorInfo), 3},
  };
  for (const Expected& slot : slots)
    EXPECT_EQ(slot.slot, slot.expected) << slot.name;
}

TEST(OPCDeclarationsTest, StreamFormatsAreRegisteredOnceByName) {
  opcserver::RegisterClipboardFormats();
  const CLIPFORMAT formats[] = {opcserver::OPCSTMFORMATDATA, opcserver::OPCSTMFORMATDATATIME,
                                opcserver::OPCSTMFORMATWRITECOMPLETE};
  for (CLIPFORMAT format : formats)
    EXPECT_GE(format, 0xC000);
  EXPECT_NE(formats[0], formats[1]);
  EXPECT_NE(formats[1], formats[2]);
  EXPECT_NE(formats[0], formats[2]);
  opcserver::RegisterClipboardFormats();
  EXPECT_EQ(opcserver::OPCSTMFORMATDATA, formats[0]);
  EXPECT_EQ(opcserver::OPCSTMFORMATDATATIME, formats[1]);
  EXPECT_EQ(opcserver::OPCSTMFORMATWRITECOMPLETE, formats[2]);
  // Names compare without case.
  EXPECT_EQ(RegisterClipboardFormatW(OLESTR("opcstmformatdata")), formats[0]);
}

TEST(OPCDeclarationsTest, TheClassLibrarysNamesSurviveThePlatformsHeaders) {
  EXPECT_EQ(vcl::WM_CLOSE, 0x0010u);
  EXPECT_EQ(vcl::VK_RETURN, 0x0D);
  bool (*post)(vcl::TWindowHandle, uint32_t, uintptr_t, intptr_t) = &vcl::PostMessage;
  EXPECT_NE(post, nullptr);
}

}  // namespace
