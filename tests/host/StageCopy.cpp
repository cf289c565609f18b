#include "StageCopy.h"

#include <filesystem>

namespace TestSupport {

TStageCopy::TStageCopy()
{
    namespace fs = std::filesystem;
    fs::copy(StageDir(), FDir.Path(), fs::copy_options::recursive);
}

void TStageCopy::WriteUserLibrary(const std::string& name, const std::string& source) const
{
    WriteFile(FDir.Path() + "/USER/" + name, source);
}

void TStageCopy::WriteSystemLibrary(const std::string& name, const std::string& source) const
{
    WriteFile(FDir.Path() + "/SYSTEM/" + name, source);
}

} // namespace TestSupport
