#include "extractor.h"

int main(int argc, char** argv) {
  return quiver::RunExtractor(argc, argv);
}
