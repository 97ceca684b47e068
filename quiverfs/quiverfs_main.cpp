#include "quiverfs.h"

int main(int argc, char** argv) {
  return quiver::RunQuiverfs(argc, argv);
}
