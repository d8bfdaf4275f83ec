#include "alertmail/AlertMail.h"

int main(int argc, char** argv) { return halvard::alertmail::Run(argc, argv); }
