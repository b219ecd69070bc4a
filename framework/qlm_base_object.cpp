#include "qlm_base_object.h"

#include <algorithm>
#include <any>
#include <atomic>
#include <functional>
#include <ios>
#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <typeinfo>
#include <variant>

#include "qlm_base_util.h"

// ---------------------------------------------------------------------------
// Type identities

uint32_t id_cBase = 0;
uint32_t id_cArray = 0;
uint32_t id_cArrayIterator = 0;
uint32_t id_cExceptionString = 0;
uint32_t id_cException = 0;
uint32_t id_cExceptionLog = 0;
uint32_t id_cFlow = 0;
uint32_t id_cMemoryFlow = 0;

namespace {
std::atomic<uint32_t> gTypeIdCounter{0};
}

void new_type_id(uint32_t& id) { id = gTypeIdCounter.fetch_add(1) + 1; }

void qlm_base_types_start() {
  new_type_id(id_cBase);
  new_type_id(id_cArray);
  new_type_id(id_cArrayIterator);
  new_type_id(id_cExceptionString);
  new_type_id(id_cException);
  new_type_id(id_cExceptionLog);
  new_type_id(id_cFlow);
  new_type_id(id_cMemoryFlow);
}

std::string framework_name() { return "Quillmar Application Framework - version 1.0 RP1"; }

bool cBase::Identify(uint32_t id) const { return id == id_cBase; }

bool object_identify(const cBase* object, uint32_t id) {
  if (object == nullptr) return false;
  try {
    if (object->FrameworkName() != framework_name()) return false;
    return object->Identify(id);
  } catch (...) {
    return false;
  }
}

// ---------------------------------------------------------------------------
// Message strings

bool cExceptionString::Identify(uint32_t id) const { return id == id_cExceptionString || cBase::Identify(id); }

void cExceptionString::Set(std::string_view name, std::string_view message) {
  mName = name;
  mMessage = message;
  mValid = true;
}

namespace {

struct BaseRow {
  int32_t code;
  const char* name;
  const char* message;
};

constexpr BaseRow kBaseRows[] = {
    {0, "errNone", "Error Code Zero."},
    {2, "errFileNF", "File not found."},
    {3, "errPathNF", "Path not found."},
    {4, "errTMOpenFiles", "Too many open files."},
    {5, "errAccessDenied", "Access denied."},
    {6, "errBadHandle", "Invalid file handle."},
    {8, "errExecMemory", "Not enough memory to execute."},
    {12, "errBadMode", "Invalid file access mode."},
    {15, "errBadDrive", "Invalid drive number."},
    {100, "errDiskRead", "Attempt to read past the end of the file."},
    {101, "errDiskWrite", "Disk becomes full."},
    {102, "errFileNAssign", "File variable is not assigned."},
    {103, "errFileNOpen", "File is not open."},
    {104, "errFileNOInput", "File is not open for input."},
    {105, "errFileNOOutput", "File is not open for output."},
    {106, "errInvNumFormat", "Invalid numeric format."},
    {150, "errWrProtect", "Disk is write-protected."},
    {152, "errDriveNReady", "Drive is not ready."},
    {154, "errBadCRC", "CRC error in data."},
    {156, "errDiskSeek", "Disk seek error."},
    {158, "errSectorNF", "Sector not found."},
    {159, "errPrOffLine", "Printer is out of paper or off line."},
    {162, "errHrdwFailure", "Hardware failure."},
    {200, "errEDivByZero", "Integer division by zero."},
    {201, "errERangeError", "Integer range check error."},
    {202, "errEStackOverflow", "System cannot grow the stack dynamically."},
    {203, "errNEnoughMem", "Not enough free memory in the system."},
    {204, "errEInvalidPointer", "Application has attempted an invalid pointer operation."},
    // clang-format off
    {205, "errEOverflow", "Calculated result is too large to fit in the floating-point register allocated for it and data is therefore lost."},
    {206, "errEUnderflow", "Floating-point math operation produces a value that is too small to be represented in a floating-point variable."},
    // clang-format on
    {207, "errEInvalidOp", "Undefined instruction, invalid operation, or floating-point processor stack overflow."},
    {210, "errEAbstractError", "Application tries to call an abstract method."},
    {215, "errEIntOverflow",
     "Calculated result is too large to fit in the integer register allocated for it and data is therefore lost."},
    {216, "errEAccessViolation",
     "Reference to nil pointer or Write to a code page or Access a memory address for which there is no virtual memory "
     "allocated."},
    {217, "errEControlC", "User pressed Ctrl+C to terminate a console application."},
    {218, "errEPrivilege",
     "Attempt to execute a processor instruction that is invalid for the current processor privilege level."},
    {219, "errEInvalidCast", "Attempt to typecast an object illegally using the as operator."},
    {220, "errEVarErrTypeCast", "Invalid variant type cast."},
    {221, "errEVarErrOperation", "Invalid variant operation."},
    {222, "errEVarErrNoDisp", "No variant method call dispatcher."},
    {223, "errEVarErrVarArr", "Cannot create variant array."},
    {224, "errEVarErrNotArr", "Variant does not contain an array."},
    {225, "errEVarErrBounds", "Variant array bounds error."},
    {226, "errTLSInit", "Thread-local storage initialization failed."},
    {227, "errEAssertionFailed",
     "Raised by the Assert procedure when an application passes it a Boolean expression whose value is False."},
    {228, "errEIntfCastError", "Attempt to typecast an interface illegally using the as operator."},
    {229, "errSafeCall", "Safe call exception."},
    {256, "errEAbort", "Error that should not display an error message dialog box."},
    {257, "errEHeapException", "Error related to heap-allocated memory."},
    {258, "errEInOutError", "Operating-system file input/output error."},
    {259, "errEIntError", "Generic integer math error exception."},
    {260, "errEInvalidArgument", "One of the parameters is out of range or makes the calculation impossible."},
    {261, "errEZeroDivide", "Attempt to divide a floating-point value by zero."},
    {262, "errEMathError", "Generic floating-point math exception."},
    {263, "errEConvertError", "String and object conversion error."},
    {264, "errEVariantError", "Generic error involving variant data types."},
    {265, "errEPropReadOnly", "Attempt to write to a read-only property using OLE automation."},
    {266, "errEPropWriteOnly", "Attempt to read a write-only property using OLE automation."},
    {267, "errEPackageError", "Raised at design time only, when an error occurs loading or utilizing a package."},
    {268, "errEWin32Error", "Raised by the RaiseLastWin32Error procedure if Windows returns an error code."},
    {269, "errEExternalException", "Raised when detected an unrecognized exception code."},
    {270, "errEExternal", "Exception wich captures Windows exception record."},
    {271, "errUnknownException", "Unknown ErrorCode."},
    {272, "errArrayNullChunk", "Algorithm logic error."},
    {273, "errArrayNoDataSpace", "Failure to allocate data entry memory."},
    {274, "errArrayCloneNew", "Clone failed due to the new instance copy is NULL."},
    {275, "errArrayCloneAppend", "Clone failed when trying to duplicate the number of entries."},
    {276, "errArrayCloneCopy", "Clone failed when copying the content of entries."},
    {277, "errArrayWrite", "A failure to write cArray into the flow."},
    {278, "errArrayRead", "A failure to read cArray from the flow."},
    {279, "errPreCondition", "Pre-conditions for the invoked method have not been met."},
    {280, "errPostCondition", "Invoked method didn't delivered promissed results."},
    {281, "errInvariant", "Condition which must always be true is false."},
    {282, "errWinAPICall",
     "WinAPI call was unsuccessfull. GetLastError should contain Windows extended error information."},
    {283, "errX11Call", "X11 library call was unsuccessfull."},
    {284, "errCarbonCall", "Carbon Framework call was unsuccessfull."},
    {285, "errRTLCall", "Run Time Library call was unsuccessfull."},
    {286, "errZLibCall", "ZLib Library call was unsuccessfull."},
    {287, "errQLMCall", "Quillmar AF function call was unsuccessfull."},
    {288, "errSubFnCall", "Local subfunction call was unsuccessfull."},
    {289, "errCallbackCall", "Call of the provided function was unsuccessfull."},
    {290, "errMethodCall", "The method call was unsuccessfull."},
    {291, "errPrivateCall", "Call of the private method was unsuccessfull."},
    {292, "errProtectedCall", "Call of the protected method was unsuccessfull."},
    {293, "errAbstractCall", "An abstract method call which should be overriden by descendant."},
    {294, "errRunTime", "User application failed at some point."},
    {295, "errNotExpected", "Unexpected condition causing function to generally fail."},
    {296, "errAlgorithmBreak", "Natural exit condition of algorithm (not error)."},
    {297, "errProgressBreak", "Processing stopped by user (not error)."},
    {298, "errLast_qlm_base", "[qlm_base] Last Code of the unit for the errXxx constants."},
};

}  // namespace

std::unique_ptr<cExceptionString> qlm_base_exception_string(uint32_t code) {
  auto answer = std::make_unique<cExceptionString>(int32_t(code), &qlm_base_exception_string);
  const auto* end = std::end(kBaseRows);
  const auto* row = std::lower_bound(std::begin(kBaseRows), end, code,
                                     [](const BaseRow& r, uint32_t c) { return uint32_t(r.code) < c; });
  if (row != end && uint32_t(row->code) == code) answer->Set(row->name, localization_translate(0, row->message, 0, 0));
  return answer;
}

// ---------------------------------------------------------------------------
// Translation

tTranslationHook gTranslationHook = nullptr;

std::string localization_translate(uint32_t domain, std::string_view default_text, int32_t index, int32_t reserved) {
  if (domain == 0 || gTranslationHook == nullptr) return std::string(default_text);
  try {
    bool use_default = false;
    std::string text;
    gTranslationHook(domain, use_default, index, reserved, text);
    return use_default ? std::string(default_text) : text;
  } catch (...) {
    return std::string(default_text);
  }
}

// ---------------------------------------------------------------------------
// exError and the raise routines

exError::exError(int32_t code, tMessageFunction function, std::string_view text, rCodeAddress raise_address,
                 uint8_t /*flag*/)
    : mMessage(string_trim(text)) {
  mRow.code = code;
  mRow.function = function;
  mRow.raise_address = raise_address;
  datetime_now(mRow.date, mRow.time);
}

namespace {
std::string join3(std::string_view a, std::string_view b, std::string_view c) {
  std::string s;
  s.reserve(a.size() + b.size() + c.size());
  s.append(a).append(b).append(c);
  return s;
}
}  // namespace

void raise_error(int32_t code, tMessageFunction function, std::string_view text1, std::string_view text2,
                 std::string_view text3, std::source_location loc) {
  throw exError(code, function, join3(text1, text2, text3), rCodeAddress::From(loc), 0);
}

void raise_base_error(int32_t code, std::string_view text1, std::string_view text2, std::string_view text3,
                      std::source_location loc) {
  throw exError(code, &qlm_base_exception_string, join3(text1, text2, text3), rCodeAddress::From(loc), 0);
}

void raise_condition_error(int32_t code, std::string_view text1, std::string_view text2, std::string_view text3,
                           std::source_location loc) {
  throw exError(code, &qlm_base_exception_string, join3(text1, text2, text3), rCodeAddress::From(loc), 1);
}

std::exception_ptr current_exception() { return std::current_exception(); }

// The standard library's exceptions mapped to the framework's codes. More
// specific classes come before their ancestors.
int32_t exception_code(std::exception_ptr e) {
  if (!e) e = std::current_exception();
  if (!e) return errUnknownException;
  try {
    std::rethrow_exception(e);
  } catch (const exError&) {
    return errUnknownException;
  } catch (const std::bad_alloc&) {  // bad_array_new_length included
    return errNEnoughMem;
  } catch (const std::ios_base::failure&) {
    return errEInOutError;
  } catch (const std::system_error&) {
    return errEWin32Error;
  } catch (const std::out_of_range&) {
    return errERangeError;
  } catch (const std::length_error&) {
    return errERangeError;
  } catch (const std::invalid_argument&) {
    return errEInvalidArgument;
  } catch (const std::domain_error&) {
    return errEMathError;
  } catch (const std::logic_error&) {
    return errEAssertionFailed;
  } catch (const std::overflow_error&) {
    return errEOverflow;
  } catch (const std::underflow_error&) {
    return errEUnderflow;
  } catch (const std::range_error&) {
    return errERangeError;
  } catch (const std::runtime_error&) {
    return errUnknownException;
  } catch (const std::bad_any_cast&) {
    return errEInvalidCast;
  } catch (const std::bad_cast&) {
    return errEInvalidCast;
  } catch (const std::bad_function_call&) {
    return errEAbstractError;
  } catch (const std::bad_optional_access&) {
    return errEAccessViolation;
  } catch (const std::bad_variant_access&) {
    return errEInvalidCast;
  } catch (...) {
    return errUnknownException;
  }
}

int32_t exception_kept_code(std::exception_ptr e) {
  if (!e) return errUnknownException;
  try {
    std::rethrow_exception(e);
  } catch (const exError& error) {
    return error.Code();
  } catch (...) {
    return exception_code(e);
  }
}

std::string exception_log_row_text(const rExceptionLog& row) {
  if (!row.message.empty()) return row.message;
  try {
    if (row.deferred.make != nullptr) return row.deferred.make(row.deferred);
    if (row.function == nullptr) return {};
    auto answer = row.function(uint32_t(row.code));
    return answer ? answer->Message() : std::string();
  } catch (...) {
    return {};
  }
}
