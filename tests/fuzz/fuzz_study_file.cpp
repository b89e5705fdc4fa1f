// Study files from arbitrary bytes: either a clean study or problems, never a crash.
#include "framework/runner/StudyFileReader.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    StudyDefinition study;
    StudyFileReader::Read(WriteTempFile(data, size, ".xml"), study);
    return 0;
}
