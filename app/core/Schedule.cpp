#include "Schedule.h"

#include "AppStrings.h"

std::string BaseDir;
int LanguageIndex = 0;

std::unique_ptr<TAppStrings> AppStr;
std::unique_ptr<TAppStrings> FanStr;
std::unique_ptr<TFuncPtrList> InvalidateList;
