#pragma once
// TRUE and FALSE for the calls that answer a BOOL (the port library's Comm_
// functions, device I/O, events). Macros, as callers of those contracts
// write them; included only by the headers of those calls, so code that
// never uses them does not get them.
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
