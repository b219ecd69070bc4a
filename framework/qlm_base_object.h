// The root class, run-time type identities and the error convention that
// every module follows.
//
// An error is identified by the pair (code, message function of the module
// that owns the code). It travels as the C++ exception `exError`. Public
// methods of objects with an exception log (`cException` descendants) run
// their body through `log_and_fail`, which catches everything, appends a row
// to the object's log and returns the failure value; objects without a log
// (`cArray`, `cFileName`, `cEncoding`) run it through `keep_code`, which
// stores the code in their last-error field. Nothing lets an exception out
// of a public method except where a method is documented to raise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <source_location>
#include <string>
#include <string_view>
#include <type_traits>

#include "qlm_base_codes.h"
#include "qlm_platform.h"

class cExceptionString;
class cExceptionLog;

// A module's message function: turns a code into a new answer owned by the
// caller. A code it does not know gives an answer that is not valid.
using tMessageFunction = std::unique_ptr<cExceptionString> (*)(uint32_t code);

// A code location: where an exception was raised or where it was logged.
struct rCodeAddress {
  const char* file = nullptr;
  const char* function = nullptr;
  uint32_t line = 0;
  static rCodeAddress From(const std::source_location& loc) {
    rCodeAddress a;
    a.file = loc.file_name();
    a.function = loc.function_name();
    a.line = loc.line();
    return a;
  }
  bool IsSet() const { return file != nullptr; }
};

// ---------------------------------------------------------------------------
// Type identities. Ids are handed out from one counter at module start, in a
// fixed order; they are 0 until the framework has started.

extern uint32_t id_cBase;
extern uint32_t id_cArray;
extern uint32_t id_cArrayIterator;
extern uint32_t id_cExceptionString;
extern uint32_t id_cException;
extern uint32_t id_cExceptionLog;
extern uint32_t id_cFlow;
extern uint32_t id_cMemoryFlow;

// Adds 1 to the process-wide counter and stores the new value in `id`.
void new_type_id(uint32_t& id);
// Takes the base module's ids in their fixed order.
void qlm_base_types_start();

// "Quillmar Application Framework - version 1.0 RP1"
std::string framework_name();

// ---------------------------------------------------------------------------
// cBase: the root of the framework's classes. Objects are neither copyable
// nor movable; copies are made with the classes' own Clone operations.

class cBase {
 public:
  cBase() = default;
  cBase(const cBase&) = delete;
  cBase& operator=(const cBase&) = delete;
  virtual ~cBase() = default;

  // True for the class's own type id or an ancestor's.
  virtual bool Identify(uint32_t id) const;
  virtual std::string FrameworkName() const { return framework_name(); }
};

// The guarded form of Identify: false for nil and for objects that are not
// framework objects.
bool object_identify(const cBase* object, uint32_t id);
// Any other object: framework objects are found through their cBase part;
// objects of other classes answer false.
template <typename T>
requires(!std::is_base_of_v<cBase, T>) bool object_identify(const T* object, uint32_t id) {
  if constexpr (std::is_polymorphic_v<T>)
    return object_identify(dynamic_cast<const cBase*>(object), id);
  else
    return false;
}

// ---------------------------------------------------------------------------
// cExceptionString: one answer of a message function.

class cExceptionString : public cBase {
 public:
  cExceptionString(int32_t code, tMessageFunction function) : mCode(code), mFunction(function) {}
  bool Identify(uint32_t id) const override;

  void Set(std::string_view name, std::string_view message);
  // The message; empty when not valid.
  std::string Message() const { return mValid ? mMessage : std::string(); }

  int32_t Code() const { return mCode; }
  tMessageFunction Function() const { return mFunction; }
  const std::string& Name() const { return mName; }
  bool Valid() const { return mValid; }

 private:
  int32_t mCode = 0;
  tMessageFunction mFunction = nullptr;
  std::string mName;
  std::string mMessage;
  bool mValid = false;
};

// The base module's message function: codes 0-298.
std::unique_ptr<cExceptionString> qlm_base_exception_string(uint32_t code);

// ---------------------------------------------------------------------------
// Translation. Every message passes through this call with domain 0; no hook
// is installed in this system, so messages are the English defaults.

using tTranslationHook = void (*)(uint32_t domain, bool& use_default, int32_t index, int32_t reserved,
                                  std::string& text);
extern tTranslationHook gTranslationHook;
std::string localization_translate(uint32_t domain, std::string_view default_text, int32_t index, int32_t reserved);

// ---------------------------------------------------------------------------
// One row of an exception log.

// A row's text made only when it is read. A module that logs many rows that
// are rarely read (the JPEG library's trace messages, a few dozen per
// picture) stores what the text is made from instead of the text: `make`
// turns the bytes into the text; it must not raise. The bytes are copied
// with the row, so a copied log keeps its texts.
constexpr size_t cnDeferredTextBytes = 88;
struct rDeferredText {
  using tMake = std::string (*)(const rDeferredText& deferred);
  tMake make = nullptr;
  alignas(8) unsigned char bytes[cnDeferredTextBytes] = {};
};

struct rExceptionLog {
  int32_t code = 0;
  tMessageFunction function = nullptr;
  rCodeAddress raise_address;
  rCodeAddress logged_at;
  rDate date;
  rTime time;
  std::string message;
  // Consulted when `message` is empty (see exception_log_row_text).
  rDeferredText deferred;
  uint8_t reserved = 0;
  // For an exception that is not a framework exception: the exception
  // itself (only stored, never read by the system).
  std::exception_ptr external;
};

// The text of a logged row: its message when not empty, otherwise its
// deferred text when it has one, otherwise the message its function gives
// for its code (empty when unknown).
std::string exception_log_row_text(const rExceptionLog& row);

// ---------------------------------------------------------------------------
// exError: the framework's exception.

class exError : public std::exception {
 public:
  // The message is the trimmed text; date and time are those of the
  // construction; logged-at is unset.
  exError(int32_t code, tMessageFunction function, std::string_view text, rCodeAddress raise_address, uint8_t flag = 0);
  int32_t Code() const { return mRow.code; }
  tMessageFunction Function() const { return mRow.function; }
  const rExceptionLog& Row() const { return mRow; }
  const std::string& Message() const { return mMessage; }
  const char* what() const noexcept override { return mMessage.c_str(); }

 private:
  std::string mMessage;
  rExceptionLog mRow;
};

// Raise routines. The brace text names the failed call or condition
// ("{mem_alloc}", "{not IsOpened}"); where a value belongs in it, the text is
// split around the value: text1 the opening part, text2 the value, text3 the
// closing part. The raise address is the caller's location.
[[noreturn]] void raise_error(int32_t code, tMessageFunction function, std::string_view text1,
                              std::string_view text2 = {}, std::string_view text3 = {},
                              std::source_location loc = std::source_location::current());
[[noreturn]] void raise_base_error(int32_t code, std::string_view text1, std::string_view text2 = {},
                                   std::string_view text3 = {},
                                   std::source_location loc = std::source_location::current());
// Same as raise_base_error; used for 279, 280, 281 and 293.
[[noreturn]] void raise_condition_error(int32_t code, std::string_view text1, std::string_view text2 = {},
                                        std::string_view text3 = {},
                                        std::source_location loc = std::source_location::current());

// The exception being handled; nil outside a handler.
std::exception_ptr current_exception();

// The code of a run-time exception (nil: the current one; none at all: 271).
// The standard library's exceptions map to the framework's codes through one
// table; an exError and anything unknown give 271.
int32_t exception_code(std::exception_ptr e = nullptr);

// The code to keep for a caught exception: exError.Code for a framework
// exception, else exception_code.
int32_t exception_kept_code(std::exception_ptr e);

// ---------------------------------------------------------------------------
// cException: an object that owns an exception log, created on first use.

class cException : public cBase {
 public:
  cException() = default;
  ~cException() override;
  bool Identify(uint32_t id) const override;
  // The log; nil while nothing was logged.
  cExceptionLog* Log() const { return mLog; }
  // Text of the last logged row (empty when nothing was logged).
  std::string LastErrorText() const;
  // Code of the last logged row (0 when nothing was logged).
  int32_t LastErrorCode() const;

 private:
  friend void exception_log_append(std::exception_ptr, cBase*, std::source_location) noexcept;
  friend cExceptionLog* exception_log_ensure(cException* holder) noexcept;
  cExceptionLog* mLog = nullptr;
};

// The holder's log, created when missing (as the first logged row creates
// it), for code that appends rows itself; nil when it cannot be created.
// Never raises.
cExceptionLog* exception_log_ensure(cException* holder) noexcept;

// Appends one row for the exception to the object's log: a cException gets
// its log created when missing; a cExceptionLog receives the row itself; any
// other object is left alone. Never raises.
void exception_log_append(std::exception_ptr exception, cBase* object,
                          std::source_location loc = std::source_location::current()) noexcept;
// Builds a row for the exception and appends it to the log. Never raises.
void exception_log_add(std::exception_ptr exception, cExceptionLog* log, rCodeAddress address) noexcept;

// ---------------------------------------------------------------------------
// The two handler patterns.

// Log and fail: runs `body`; any exception is logged in `self`'s log and
// `failure` is returned.
template <typename R, typename F>
R log_and_fail(cException* self, R failure, F&& body, std::source_location loc = std::source_location::current()) {
  try {
    return body();
  } catch (...) {
    exception_log_append(std::current_exception(), self, loc);
    return failure;
  }
}

// Keep the code: runs `body`; any exception stores its code in `last_error`
// and `failure` is returned.
template <typename R, typename F>
R keep_code(int32_t& last_error, R failure, F&& body) {
  try {
    return body();
  } catch (...) {
    last_error = exception_kept_code(std::current_exception());
    return failure;
  }
}
