// Text pieces of the network service's documents and files, kept apart from
// the handlers so they can be checked on their own.
#pragma once

#include <string>

// One <element>address</element> per blank-separated piece of a stored
// address list. Every single blank separates, so two blanks give an empty
// element between them; a trailing blank adds nothing; an empty list gives
// one empty element.
std::string address_list(const std::string& source, const char* element);

// The SNMP daemon's configuration for the given values. Each value stays on
// its own line: anything from its first line break on is dropped.
std::string snmpd_conf_text(const std::string& enterprise_id, const std::string& rw_community,
                            const std::string& ro_community, const std::string& trap_sink);
