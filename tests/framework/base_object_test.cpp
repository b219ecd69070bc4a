#include <gtest/gtest.h>

#include <any>
#include <chrono>
#include <cstring>
#include <functional>
#include <ios>
#include <new>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <typeinfo>
#include <utility>
#include <variant>

#include "qlm_base_array.h"
#include "qlm_base_object.h"
#include "qlm_base_util.h"

namespace {

// Codes and names of the base table, in code order.
// clang-format off
const std::pair<int32_t, const char*> kNames[] = {
    {0, "errNone"}, {2, "errFileNF"}, {3, "errPathNF"}, {4, "errTMOpenFiles"}, {5, "errAccessDenied"},
    {6, "errBadHandle"}, {8, "errExecMemory"}, {12, "errBadMode"}, {15, "errBadDrive"}, {100, "errDiskRead"},
    {101, "errDiskWrite"}, {102, "errFileNAssign"}, {103, "errFileNOpen"}, {104, "errFileNOInput"},
    {105, "errFileNOOutput"}, {106, "errInvNumFormat"}, {150, "errWrProtect"}, {152, "errDriveNReady"},
    {154, "errBadCRC"}, {156, "errDiskSeek"}, {158, "errSectorNF"}, {159, "errPrOffLine"},
    {162, "errHrdwFailure"}, {200, "errEDivByZero"}, {201, "errERangeError"}, {202, "errEStackOverflow"},
    {203, "errNEnoughMem"}, {204, "errEInvalidPointer"}, {205, "errEOverflow"}, {206, "errEUnderflow"},
    {207, "errEInvalidOp"}, {210, "errEAbstractError"}, {215, "errEIntOverflow"},
    {216, "errEAccessViolation"}, {217, "errEControlC"}, {218, "errEPrivilege"}, {219, "errEInvalidCast"},
    {220, "errEVarErrTypeCast"}, {221, "errEVarErrOperation"}, {222, "errEVarErrNoDisp"},
    {223, "errEVarErrVarArr"}, {224, "errEVarErrNotArr"}, {225, "errEVarErrBounds"}, {226, "errTLSInit"},
    {227, "errEAssertionFailed"}, {228, "errEIntfCastError"}, {229, "errSafeCall"}, {256, "errEAbort"},
    {257, "errEHeapException"}, {258, "errEInOutError"}, {259, "errEIntError"}, {260, "errEInvalidArgument"},
    {261, "errEZeroDivide"}, {262, "errEMathError"}, {263, "errEConvertError"}, {264, "errEVariantError"},
    {265, "errEPropReadOnly"}, {266, "errEPropWriteOnly"}, {267, "errEPackageError"}, {268, "errEWin32Error"},
    {269, "errEExternalException"}, {270, "errEExternal"}, {271, "errUnknownException"},
    {272, "errArrayNullChunk"}, {273, "errArrayNoDataSpace"}, {274, "errArrayCloneNew"},
    {275, "errArrayCloneAppend"}, {276, "errArrayCloneCopy"}, {277, "errArrayWrite"}, {278, "errArrayRead"},
    {279, "errPreCondition"}, {280, "errPostCondition"}, {281, "errInvariant"}, {282, "errWinAPICall"},
    {283, "errX11Call"}, {284, "errCarbonCall"}, {285, "errRTLCall"}, {286, "errZLibCall"},
    {287, "errQLMCall"}, {288, "errSubFnCall"}, {289, "errCallbackCall"}, {290, "errMethodCall"},
    {291, "errPrivateCall"}, {292, "errProtectedCall"}, {293, "errAbstractCall"}, {294, "errRunTime"},
    {295, "errNotExpected"}, {296, "errAlgorithmBreak"}, {297, "errProgressBreak"}, {298, "errLast_qlm_base"},
};
// clang-format on
// The messages the system produces, exactly as they read.
const std::pair<int32_t, const char*> kMessages[] = {
    {0, "Error Code Zero."},
    {5, "Access denied."},
    {100, "Attempt to read past the end of the file."},
    {101, "Disk becomes full."},
    {200, "Integer division by zero."},
    {201, "Integer range check error."},
    {202, "System cannot grow the stack dynamically."},
    {203, "Not enough free memory in the system."},
    {204, "Application has attempted an invalid pointer operation."},
    // clang-format off
    {205, "Calculated result is too large to fit in the floating-point register allocated for it and data is therefore lost."},
    {206, "Floating-point math operation produces a value that is too small to be represented in a floating-point variable."},
    // clang-format on
    {207, "Undefined instruction, invalid operation, or floating-point processor stack overflow."},
    {210, "Application tries to call an abstract method."},
    {215, "Calculated result is too large to fit in the integer register allocated for it and data is therefore lost."},
    {216,
     "Reference to nil pointer or Write to a code page or Access a memory address for which there is no virtual memory "
     "allocated."},
    {217, "User pressed Ctrl+C to terminate a console application."},
    {218, "Attempt to execute a processor instruction that is invalid for the current processor privilege level."},
    {219, "Attempt to typecast an object illegally using the as operator."},
    {227, "Raised by the Assert procedure when an application passes it a Boolean expression whose value is False."},
    {228, "Attempt to typecast an interface illegally using the as operator."},
    {256, "Error that should not display an error message dialog box."},
    {257, "Error related to heap-allocated memory."},
    {258, "Operating-system file input/output error."},
    {259, "Generic integer math error exception."},
    {260, "One of the parameters is out of range or makes the calculation impossible."},
    {261, "Attempt to divide a floating-point value by zero."},
    {262, "Generic floating-point math exception."},
    {263, "String and object conversion error."},
    {264, "Generic error involving variant data types."},
    {265, "Attempt to write to a read-only property using OLE automation."},
    {266, "Attempt to read a write-only property using OLE automation."},
    {267, "Raised at design time only, when an error occurs loading or utilizing a package."},
    {268, "Raised by the RaiseLastWin32Error procedure if Windows returns an error code."},
    {269, "Raised when detected an unrecognized exception code."},
    {270, "Exception wich captures Windows exception record."},
    {271, "Unknown ErrorCode."},
    {272, "Algorithm logic error."},
    {273, "Failure to allocate data entry memory."},
    {274, "Clone failed due to the new instance copy is NULL."},
    {275, "Clone failed when trying to duplicate the number of entries."},
    {276, "Clone failed when copying the content of entries."},
    {277, "A failure to write cArray into the flow."},
    {278, "A failure to read cArray from the flow."},
    {279, "Pre-conditions for the invoked method have not been met."},
    {280, "Invoked method didn't delivered promissed results."},
    {281, "Condition which must always be true is false."},
    {282, "WinAPI call was unsuccessfull. GetLastError should contain Windows extended error information."},
    {283, "X11 library call was unsuccessfull."},
    {284, "Carbon Framework call was unsuccessfull."},
    {285, "Run Time Library call was unsuccessfull."},
    {286, "ZLib Library call was unsuccessfull."},
    {287, "Quillmar AF function call was unsuccessfull."},
    {288, "Local subfunction call was unsuccessfull."},
    {289, "Call of the provided function was unsuccessfull."},
    {290, "The method call was unsuccessfull."},
    {291, "Call of the private method was unsuccessfull."},
    {292, "Call of the protected method was unsuccessfull."},
    {293, "An abstract method call which should be overriden by descendant."},
    {294, "User application failed at some point."},
    {295, "Unexpected condition causing function to generally fail."},
    {296, "Natural exit condition of algorithm (not error)."},
    {297, "Processing stopped by user (not error)."},
    {298, "[qlm_base] Last Code of the unit for the errXxx constants."},
};

// A unit's message function: its own code 299, everything else from the base.
std::unique_ptr<cExceptionString> unit_exception_string(uint32_t code) {
  if (code != 299) return qlm_base_exception_string(code);
  auto answer = std::make_unique<cExceptionString>(int32_t(code), &unit_exception_string);
  answer->Set("errUnitOwn", "Own message.");
  return answer;
}

// A framework object with a log whose methods log and fail.
class cWorker : public cException {
 public:
  bool Fails() {
    return log_and_fail(this, false, [&]() -> bool { raise_condition_error(errInvariant, "{not IsOpened}"); });
  }
  int32_t Throws() {
    return log_and_fail(this, -1, [&]() -> int32_t { throw std::out_of_range("x"); });
  }
  bool Works() {
    return log_and_fail(this, false, [&] { return true; });
  }
};

// A class that looks like a framework object but is not one.
class cImpostor : public cBase {
 public:
  std::string FrameworkName() const override { return "Another framework"; }
};

struct Foreign {
  virtual ~Foreign() = default;
};

struct Mixed : Foreign, cException {};

exError caught_error(std::function<void()> raise) {
  try {
    raise();
  } catch (const exError& e) {
    return e;
  }
  ADD_FAILURE() << "nothing raised";
  return exError(0, nullptr, "", {});
}

}  // namespace

// ---------------------------------------------------------------------------
// Raising

TEST(Errors, RaiseTrimsTheJoinedTextAndTakesTheCallersLocation) {
  const uint32_t line = __LINE__ + 1;
  const exError e = caught_error([] { raise_base_error(203, "  {mem_alloc}  "); });
  EXPECT_EQ(e.Code(), 203);
  EXPECT_STREQ(e.what(), "{mem_alloc}");
  EXPECT_EQ(e.Message(), "{mem_alloc}");
  EXPECT_EQ(e.Function(), &qlm_base_exception_string);
  EXPECT_EQ(e.Row().raise_address.line, line);
  EXPECT_NE(std::strstr(e.Row().raise_address.file, "base_object_test"), nullptr);
  EXPECT_FALSE(e.Row().logged_at.IsSet());
  EXPECT_TRUE(e.Row().message.empty());  // the text lives in the exception
  EXPECT_EQ(e.Row().reserved, 0);
  EXPECT_FALSE(e.Row().external);
  EXPECT_GE(e.Row().date.year, 2000);

  const exError split = caught_error([] { raise_error(299, &unit_exception_string, " {sz=", "-5", "}\t "); });
  EXPECT_EQ(split.Message(), "{sz=-5}\t");  // blanks only are trimmed
  EXPECT_EQ(split.Function(), &unit_exception_string);
  EXPECT_EQ(caught_error([] { raise_condition_error(errPreCondition, "{a", "", "}"); }).Code(), errPreCondition);
  EXPECT_EQ(caught_error([] { raise_base_error(5, "   "); }).Message(), "");
}

TEST(Errors, RunTimeExceptionsMapToCodes) {
  struct MyBadAlloc : std::bad_alloc {};
  const std::pair<std::exception_ptr, int32_t> rows[] = {
      {std::make_exception_ptr(std::bad_alloc()), errNEnoughMem},
      {std::make_exception_ptr(MyBadAlloc()), errNEnoughMem},
      {std::make_exception_ptr(std::bad_array_new_length()), errNEnoughMem},
      {std::make_exception_ptr(std::ios_base::failure("io")), errEInOutError},  // before system_error
      {std::make_exception_ptr(std::system_error(std::make_error_code(std::errc::io_error))), errEWin32Error},
      {std::make_exception_ptr(std::out_of_range("r")), errERangeError},
      {std::make_exception_ptr(std::range_error("r")), errERangeError},
      {std::make_exception_ptr(std::invalid_argument("a")), errEInvalidArgument},
      {std::make_exception_ptr(std::overflow_error("o")), errEOverflow},
      {std::make_exception_ptr(std::underflow_error("u")), errEUnderflow},
      {std::make_exception_ptr(std::bad_cast()), errEInvalidCast},
      {std::make_exception_ptr(std::bad_any_cast()), errEInvalidCast},
      {std::make_exception_ptr(std::bad_variant_access()), errEInvalidCast},
      {std::make_exception_ptr(std::runtime_error("x")), errUnknownException},
      {std::make_exception_ptr(exError(203, &qlm_base_exception_string, "", {})), errUnknownException},
      {std::make_exception_ptr(42), errUnknownException},
  };
  for (size_t i = 0; i < std::size(rows); ++i) EXPECT_EQ(exception_code(rows[i].first), rows[i].second) << i;
  EXPECT_EQ(exception_code(), errUnknownException);  // no current exception
  EXPECT_EQ(current_exception(), nullptr);
  try {
    throw std::bad_alloc();
  } catch (...) {
    EXPECT_EQ(exception_code(), errNEnoughMem);  // nil: the current one
    EXPECT_NE(current_exception(), nullptr);
  }
  // Keep the code: the framework's own code for exError, else the mapping.
  EXPECT_EQ(exception_kept_code(std::make_exception_ptr(exError(277, nullptr, "", {}))), 277);
  EXPECT_EQ(exception_kept_code(std::make_exception_ptr(std::bad_alloc())), errNEnoughMem);
  int32_t last_error = 0;
  EXPECT_EQ(keep_code(last_error, -1, [&]() -> int { raise_base_error(errArrayRead, "{Read}"); }), -1);
  EXPECT_EQ(last_error, errArrayRead);
  EXPECT_EQ(keep_code(last_error, -1, [] { return 4; }), 4);
}

// ---------------------------------------------------------------------------
// Type identities

TEST(Errors, IdentifyAlongTheClassChain) {
  // Ids are handed out at start in a fixed order.
  EXPECT_GT(id_cBase, 0u);
  const uint32_t ids[] = {id_cBase,      id_cArray,        id_cArrayIterator, id_cExceptionString,
                          id_cException, id_cExceptionLog, id_cFlow,          id_cMemoryFlow};
  for (size_t i = 1; i < std::size(ids); ++i) EXPECT_EQ(ids[i], ids[0] + i);

  cArray array(8, 0, 6);
  cArrayOf<int64_t, 0> typed(6);  // no id of its own: answers as cArray
  cExceptionLog log;
  cException holder;
  cExceptionString answer(0, nullptr);
  cImpostor impostor;
  const cBase* all[] = {&array, &typed, &log, &holder, &answer};
  for (const cBase* o : all) {
    EXPECT_TRUE(o->Identify(id_cBase));
    EXPECT_TRUE(object_identify(o, id_cBase));
    EXPECT_FALSE(o->Identify(id_cFlow));
    EXPECT_EQ(o->FrameworkName(), "Quillmar Application Framework - version 1.0 RP1");
  }
  EXPECT_TRUE(typed.Identify(id_cArray));
  EXPECT_FALSE(typed.Identify(id_cExceptionLog));
  EXPECT_TRUE(log.Identify(id_cArray));
  EXPECT_TRUE(log.Identify(id_cExceptionLog));
  EXPECT_FALSE(log.Identify(id_cException));
  EXPECT_TRUE(holder.Identify(id_cException));
  EXPECT_FALSE(holder.Identify(id_cArray));
  EXPECT_TRUE(answer.Identify(id_cExceptionString));
  EXPECT_FALSE(array.Identify(0));

  EXPECT_FALSE(object_identify(static_cast<const cBase*>(nullptr), id_cBase));
  EXPECT_TRUE(impostor.Identify(id_cBase));
  EXPECT_FALSE(object_identify(&impostor, id_cBase));  // not a framework object
  Foreign foreign;
  EXPECT_FALSE(object_identify(&foreign, id_cBase));
  const std::runtime_error library_object("x");
  EXPECT_FALSE(object_identify(&library_object, id_cBase));
  int plain = 0;
  EXPECT_FALSE(object_identify(&plain, id_cBase));
  Foreign* nil_foreign = nullptr;
  EXPECT_FALSE(object_identify(nil_foreign, id_cBase));
  Mixed mixed;
  const Foreign* through_foreign = &mixed;  // a framework object seen through another class
  EXPECT_TRUE(object_identify(through_foreign, id_cException));
  EXPECT_FALSE(object_identify(through_foreign, id_cArray));
}

// ---------------------------------------------------------------------------
// Logging

TEST(Errors, LoggingOnAFirstAndASecondError) {
  cException holder;
  EXPECT_EQ(holder.Log(), nullptr);
  EXPECT_EQ(holder.LastErrorCode(), 0);
  EXPECT_EQ(holder.LastErrorText(), "");

  const exError raised = caught_error([] { raise_base_error(errQLMCall, "{mem_read}"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(15));
  const uint32_t line = __LINE__ + 1;
  exception_log_append(std::make_exception_ptr(raised), &holder);
  ASSERT_NE(holder.Log(), nullptr);
  ASSERT_EQ(holder.Log()->Count(), 1u);
  const rExceptionLog& first = *holder.Log()->Get(1);
  EXPECT_EQ(first.code, errQLMCall);
  EXPECT_EQ(first.function, &qlm_base_exception_string);
  EXPECT_EQ(first.message, "{mem_read}");
  EXPECT_EQ(first.raise_address.line, raised.Row().raise_address.line);
  EXPECT_EQ(first.logged_at.line, line);
  EXPECT_EQ(std::memcmp(&first.time, &raised.Row().time, sizeof(rTime)), 0);  // the raise time
  EXPECT_EQ(std::memcmp(&first.date, &raised.Row().date, sizeof(rDate)), 0);
  EXPECT_EQ(holder.LastErrorCode(), errQLMCall);
  EXPECT_EQ(holder.LastErrorText(), "{mem_read}");

  rTime before;
  time_now(before);
  exception_log_append(std::make_exception_ptr(std::bad_alloc()), &holder);
  ASSERT_EQ(holder.Log()->Count(), 2u);
  const rExceptionLog& second = *holder.Log()->Get(2);
  EXPECT_EQ(second.code, errNEnoughMem);
  EXPECT_EQ(second.function, &qlm_base_exception_string);
  EXPECT_TRUE(second.message.empty());
  EXPECT_TRUE(second.external);
  EXPECT_GE(
      second.time.hour * 3600000 + second.time.minute * 60000 + second.time.second * 1000 + second.time.millisecond,
      before.hour * 3600000 + before.minute * 60000 + before.second * 1000 + before.millisecond);
  // The text of a row without a message comes from its message function.
  EXPECT_EQ(holder.LastErrorText(), "Not enough free memory in the system.");
  EXPECT_EQ(holder.Log()->First(), &first);  // rows never move

  // A log receives the row itself; other objects and nil arguments nothing.
  cExceptionLog log;
  exception_log_append(std::make_exception_ptr(std::invalid_argument("x")), &log);
  ASSERT_EQ(log.Count(), 1u);
  EXPECT_EQ(log.Get(1)->code, errEInvalidArgument);
  cArray array(8, 0, 6);
  exception_log_append(std::make_exception_ptr(std::bad_alloc()), &array);
  EXPECT_EQ(array.Count(), 0u);
  cImpostor impostor;
  exception_log_append(std::make_exception_ptr(std::bad_alloc()), &impostor);
  exception_log_append(nullptr, &holder);
  exception_log_append(std::make_exception_ptr(std::bad_alloc()), nullptr);
  exception_log_add(std::make_exception_ptr(std::bad_alloc()), nullptr, {});
  exception_log_add(nullptr, &log, {});
  EXPECT_EQ(holder.Log()->Count(), 2u);
  EXPECT_EQ(log.Count(), 1u);
  // Without a location the row is logged at exception_log_add itself.
  exception_log_add(std::make_exception_ptr(std::bad_alloc()), &log, {});
  ASSERT_EQ(log.Count(), 2u);
  EXPECT_TRUE(log.Get(2)->logged_at.IsSet());

  // A clone of the log owns copies of the messages.
  auto* copy = static_cast<cExceptionLog*>(holder.Log()->Clone());
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(copy->Identify(id_cExceptionLog));
  ASSERT_EQ(copy->Count(), 2u);
  EXPECT_EQ(copy->Get(1)->message, "{mem_read}");
  delete copy;
}

TEST(Errors, LoggingNeverRaises) {
  cException holder;
  mem_alloc_fail_at(1, true);
  exception_log_append(std::make_exception_ptr(std::bad_alloc()), &holder);  // the row is dropped
  mem_alloc_fail_at(0);
  EXPECT_EQ(holder.LastErrorCode(), 0);
  exception_log_append(std::make_exception_ptr(std::bad_alloc()), &holder);
  EXPECT_EQ(holder.LastErrorCode(), errNEnoughMem);
}

TEST(Errors, LogAndFailAtMethodBoundaries) {
  cWorker worker;
  EXPECT_TRUE(worker.Works());
  EXPECT_EQ(worker.Log(), nullptr);
  EXPECT_FALSE(worker.Fails());
  EXPECT_EQ(worker.LastErrorCode(), errInvariant);
  EXPECT_EQ(worker.LastErrorText(), "{not IsOpened}");
  EXPECT_EQ(worker.Throws(), -1);
  EXPECT_EQ(worker.LastErrorCode(), errERangeError);
  EXPECT_EQ(worker.Log()->Count(), 2u);
}

// ---------------------------------------------------------------------------
// Messages

TEST(Errors, TheBaseTableByteForByte) {
  std::set<std::string> names;
  for (const auto& [code, name] : kNames) {
    auto answer = qlm_base_exception_string(uint32_t(code));
    EXPECT_TRUE(answer->Valid()) << code;
    EXPECT_EQ(answer->Name(), name);
    EXPECT_FALSE(answer->Message().empty()) << code;
    names.insert(name);
  }
  EXPECT_EQ(std::size(kNames), 90u);
  EXPECT_EQ(names.size(), 90u);
  for (const auto& [code, message] : kMessages)
    EXPECT_EQ(qlm_base_exception_string(uint32_t(code))->Message(), message) << code;
  // Nothing else has a row.
  int valid = 0;
  for (uint32_t code = 0; code < 1200; ++code) valid += qlm_base_exception_string(code)->Valid();
  EXPECT_EQ(valid, 90);
}

TEST(Errors, MessageFunctionsForKnownAndUnknownCodes) {
  auto known = qlm_base_exception_string(203);
  EXPECT_TRUE(known->Valid());
  EXPECT_EQ(known->Code(), 203);
  EXPECT_EQ(known->Function(), &qlm_base_exception_string);
  EXPECT_EQ(known->Name(), "errNEnoughMem");
  EXPECT_EQ(known->Message(), "Not enough free memory in the system.");
  for (uint32_t code : {1u, 299u, 1000u, uint32_t(-1)}) {
    auto unknown = qlm_base_exception_string(code);
    EXPECT_FALSE(unknown->Valid()) << code;
    EXPECT_EQ(unknown->Code(), int32_t(code));
    EXPECT_EQ(unknown->Function(), &qlm_base_exception_string);
    EXPECT_EQ(unknown->Name(), "");
    EXPECT_EQ(unknown->Message(), "");
  }
  auto delegated = unit_exception_string(203);
  EXPECT_EQ(delegated->Name(), known->Name());
  EXPECT_EQ(delegated->Message(), known->Message());
  EXPECT_EQ(unit_exception_string(299)->Message(), "Own message.");

  rExceptionLog row;
  EXPECT_EQ(exception_log_row_text(row), "");  // no function
  row.function = &unit_exception_string;
  row.code = 299;
  EXPECT_EQ(exception_log_row_text(row), "Own message.");
  row.code = 1;
  EXPECT_EQ(exception_log_row_text(row), "");
  // A deferred text is made when read and comes before the function's
  // message; a maker that raises gives an empty text; a message wins.
  row.code = 299;
  row.deferred.make = [](const rDeferredText& d) { return std::string("made ") + char(d.bytes[0]); };
  row.deferred.bytes[0] = 'x';
  EXPECT_EQ(exception_log_row_text(row), "made x");
  rExceptionLog raising = row;
  raising.deferred.make = [](const rDeferredText&) -> std::string { throw std::bad_alloc(); };
  EXPECT_EQ(exception_log_row_text(raising), "");
  row.message = "kept";
  EXPECT_EQ(exception_log_row_text(row), "kept");

  // A copied log keeps the deferred texts.
  cExceptionLog log;
  rExceptionLog* entry = log.Append(1);
  ASSERT_NE(entry, nullptr);
  *entry = row;
  entry->message.clear();
  std::unique_ptr<cExceptionLog> copy(static_cast<cExceptionLog*>(log.Clone()));
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(copy->Count(), 1u);
  log.Clear();
  EXPECT_EQ(exception_log_row_text(*copy->Get(1)), "made x");
}

TEST(Errors, TranslationFallsBackToTheDefault) {
  EXPECT_EQ(localization_translate(0, "Default.", 1, 0), "Default.");
  EXPECT_EQ(localization_translate(7, "Default.", 1, 0), "Default.");  // no hook
  gTranslationHook = [](uint32_t, bool& use_default, int32_t index, int32_t, std::string& text) {
    if (index == 1) text = "Vertaald.";
    if (index == 2) use_default = true;
    if (index == 3) throw std::runtime_error("hook");
  };
  EXPECT_EQ(localization_translate(7, "Default.", 1, 0), "Vertaald.");
  EXPECT_EQ(localization_translate(7, "Default.", 2, 0), "Default.");
  EXPECT_EQ(localization_translate(7, "Default.", 3, 0), "Default.");
  EXPECT_EQ(localization_translate(0, "Default.", 1, 0), "Default.");  // domain 0: never translated
  EXPECT_EQ(qlm_base_exception_string(203)->Message(), "Not enough free memory in the system.");
  gTranslationHook = nullptr;
}
