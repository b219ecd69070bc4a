// cFileFlow: the flow over a disk file. It owns its cFileName and a file
// record and maps every flow operation onto the file layer's primitives,
// adding the flow's preconditions, its count of the last transfer and its
// error log (log and fail: 279 for a bad argument or an unusable partner
// flow, 281 for this flow's own state, 287 when a primitive failed, whose
// own code stays in the record, 203 for the copy buffer).
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "qlm_base_flow.h"
#include "qlm_platform_file.h"
#include "qlm_platform_file_io.h"

extern uint32_t id_cFileFlow;
// Takes the flow's type id (after cFileName's).
void qlm_file_flow_types_start();

class cFileFlow : public cFlow {
 public:
  // Access: 1 read, 2 write, 3 read and write. A constructor ignores the
  // outcome of its Assign; a flow left without a name cannot be opened.
  cFileFlow(std::string_view file_name, int32_t access);
  cFileFlow(cFileName* file_name, int32_t access);
  // Closes the file when open.
  ~cFileFlow() override;
  bool Identify(uint32_t id) const override;

  // Only while closed. The string form keeps the text as given (it must not
  // be empty once trailing blanks and NULs are trimmed); the name form takes
  // the name's FullName.
  bool Assign(std::string_view file_name, int32_t access);
  bool Assign(cFileName* file_name, int32_t access);

  // Not supported: always nil, with a logged 281.
  std::unique_ptr<cFlow> Clone() override;
  bool Open() override;
  // Opens and moves to the end; needs a writable flow.
  bool OpenAppend() override;
  // Creates the file, or empties an existing one.
  bool Create() override;
  bool Close() override;
  int64_t Size() override;
  int64_t Curr() override;
  bool Eof() override;
  // -1 is the end.
  bool Seek(int64_t offset) override;
  bool IsOpened() override;
  bool IsReadable() override;
  bool IsWritable() override;
  bool IsScalable() override;
  bool Read(void* buffer, int32_t n) override;
  bool Write(const void* buffer, int32_t n) override;
  // n zero bytes at the offset (-1 = the end); the position afterwards is
  // the offset asked for (the old size for -1).
  bool Insert(int32_t n, int64_t offset) override;
  bool Delete(int32_t n, int64_t offset) override;
  // Cuts n bytes off the end; the position afterwards is the new end.
  bool Crop(int32_t n) override;
  // Grows with zeros or crops to the size; the position afterwards is 0 and
  // LastIO the change (clamped to 32 bits).
  bool SetSize(int64_t size) override;
  bool CopyFrom(cFlow* source, int32_t n) override;
  bool CopyTo(cFlow* target, int32_t n) override;
  uint32_t LastIO() override;

  int32_t Access() const { return mAccess; }
  cFileName* FileName() const { return mFileName.get(); }
  const rFileRecord& FileRecord() const { return mFile; }

 private:
  void NeedOpened();
  void NeedClosed();
  void NeedAssigned();
  void CopyBuffer();
  void FreeCopyBuffer();

  rFileRecord mFile;
  std::unique_ptr<cFileName> mFileName;
  int32_t mAccess = 0;
  int32_t mLastIO = -1;
  uint8_t* mCopyBuffer = nullptr;
  int32_t mCopyBufferSize = cnFlowCopyBuffer;
};
