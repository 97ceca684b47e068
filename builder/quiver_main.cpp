#include "builder.h"

int main(int argc, char** argv) {
  return quiver::RunBuilder(argc, argv);
}
