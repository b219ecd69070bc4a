// cException's log and the logging routines. Logging never raises: a row
// that cannot be stored is dropped.
#include "qlm_base_array.h"
#include "qlm_base_object.h"

cException::~cException() { delete mLog; }

bool cException::Identify(uint32_t id) const { return id == id_cException || cBase::Identify(id); }

std::string cException::LastErrorText() const {
  if (mLog == nullptr || mLog->Count() == 0) return {};
  return exception_log_row_text(*mLog->Last());
}

int32_t cException::LastErrorCode() const {
  if (mLog == nullptr || mLog->Count() == 0) return 0;
  return mLog->Last()->code;
}

cExceptionLog* exception_log_ensure(cException* holder) noexcept {
  if (holder == nullptr) return nullptr;
  if (holder->mLog == nullptr) holder->mLog = new (std::nothrow) cExceptionLog();
  return holder->mLog;
}

void exception_log_append(std::exception_ptr exception, cBase* object, std::source_location loc) noexcept {
  if (!exception || object == nullptr) return;
  try {
    const rCodeAddress at = rCodeAddress::From(loc);
    if (object_identify(object, id_cException)) {
      auto* holder = dynamic_cast<cException*>(object);
      if (holder == nullptr) return;
      if (holder->mLog == nullptr) {
        holder->mLog = new (std::nothrow) cExceptionLog();
        if (holder->mLog == nullptr) return;
      }
      exception_log_add(exception, holder->mLog, at);
    } else if (object_identify(object, id_cExceptionLog)) {
      exception_log_add(exception, dynamic_cast<cExceptionLog*>(object), at);
    }
  } catch (...) {
    // The row is lost.
  }
}

void exception_log_add(std::exception_ptr exception, cExceptionLog* log, rCodeAddress address) noexcept {
  if (!exception || log == nullptr) return;
  try {
    rExceptionLog row;
    try {
      std::rethrow_exception(exception);
    } catch (const exError& error) {
      row = error.Row();
      row.message = error.Message();
      row.reserved = 0;
      row.external = nullptr;
    } catch (...) {
      row.code = exception_code(exception);
      row.function = &qlm_base_exception_string;
      // A run-time exception carries no raise location: the logging
      // location stands for it.
      row.raise_address = address;
      datetime_now(row.date, row.time);
      row.reserved = 0;
      row.external = exception;
    }
    row.logged_at = address.IsSet() ? address : rCodeAddress::From(std::source_location::current());
    rExceptionLog* entry = log->Append(1);
    if (entry == nullptr) return;
    *entry = std::move(row);
  } catch (...) {
    // The row is lost.
  }
}
