#include "driver/driver.h"
#include "html2Ruxa/html_converter.h"

int main(int argc, char** argv) { return ruxa::RunDriver(ruxa::kHtmlProfile, argc, argv); }
