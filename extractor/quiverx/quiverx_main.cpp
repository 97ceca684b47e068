#include "extractor.h"
#include "platform.h"

int main(int argc, char** argv) {
  return quiver::RunWithUtf8Arguments(argc, argv, quiver::RunExtractor);
}
