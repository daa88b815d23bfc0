#include "doc2Ruxa/doc_converter.h"
#include "driver/driver.h"

int main(int argc, char** argv) { return ruxa::RunDriver(ruxa::kDocProfile, argc, argv); }
