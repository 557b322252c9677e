// Unit PsStrings: the toolkit's own texts, numbered 65120 to 65199, so that
// they can be translated apart from the code. They are string resources of
// the program (toolkit/PsStrings.rc, in korvamon's resources); a program
// without such a text gets the one the toolkit is built with.
#pragma once

#include <string>

namespace toolkit {

// Display names of the process variables' property kinds.
inline constexpr int sPsVarPropValue = 65168;
inline constexpr int sPsVarPropCaption = 65169;
inline constexpr int sPsVarPropEngUnit = 65170;
inline constexpr int sPsVarPropAlarmState = 65171;
inline constexpr int sPsVarPropDiff = 65172;
inline constexpr int sPsVarPropAlarmLow = 65173;
inline constexpr int sPsVarPropAlarmHigh = 65174;
inline constexpr int sPsVarPropWarnLow = 65175;
inline constexpr int sPsVarPropWarnHigh = 65176;
inline constexpr int sPsVarPropSetpoint = 65177;
inline constexpr int sPsVarPropMean = 65178;
inline constexpr int sPsVarPropStdDev = 65179;
inline constexpr int sPsVarPropMax = 65180;
inline constexpr int sPsVarPropMin = 65181;
inline constexpr int sPsVarPropOther = 65182;
inline constexpr int sPsVarPropDescription = 65183;
inline constexpr int sPsVarPropAlarmText = 65152;
inline constexpr int sPsVarPropAlarmHelp = 65153;
// Qualities, alarm states and Boolean values.
inline constexpr int sPsVarQualityBad = 65154;
inline constexpr int sPsVarQualityUncertain = 65155;
inline constexpr int sPsVarQualityGood = 65156;
inline constexpr int sPsAlarmStateNormal = 65157;
inline constexpr int sPsAlarmStateWarning = 65158;
inline constexpr int sPsAlarmStateAlarm = 65159;
inline constexpr int sPsAlarmStateUnknown = 65160;
inline constexpr int sPsFalse = 65198;
inline constexpr int sPsTrue = 65199;
// Variant type names.
inline constexpr int sPsArrayOf = 65163;
inline constexpr int sPsReference = 65164;
// OPC qualities: the three main ones, then the sixteen substatus and limit
// texts 65136 to 65151, then 65120 and 65121.
inline constexpr int sPsOPCQualityBad = 65165;
inline constexpr int sPsOPCQualityUncertain = 65166;
inline constexpr int sPsOPCQualityGood = 65167;
inline constexpr int sPsOPCSubstatusFirst = 65136;
inline constexpr int sPsOPCLimitHigh = 65120;
inline constexpr int sPsOPCLimitConstant = 65121;

// The text of a number: the program's string resource, else the built-in
// one; empty for a number without one or outside 65120 to 65199.
std::string PsString(int number);

}  // namespace toolkit
