#pragma once
// The transport base: what carries the driver's requests to a line and the
// replies back. It owns the per-channel bookkeeping (error, link state, reply
// check, setup handler) and the verify-then-record step; a transport supplies
// only the transfer of bytes and the line setup.
//
// To be filled in: see the class in this header once the transports move onto it.
