// SPDX-License-Identifier: Apache-2.0
// The document itself, kept beside the routes of this folder.

#include "station/api/OpenApi.h"

namespace quorlan::station {

namespace {

constexpr std::string_view kDocument = R"json({
  "openapi": "3.0.3",
  "info": {"title": "Quorlan station service", "version": "1",
    "license": {"name": "Apache-2.0", "url": "https://www.apache.org/licenses/LICENSE-2.0"}},
  "servers": [{"url": "/api/v1"}],
  "security": [{"bearer": []}],
  "components": {
    "securitySchemes": {"bearer": {"type": "http", "scheme": "bearer"}},
    "parameters": {
      "c": {"name": "c", "in": "path", "required": true, "schema": {"type": "integer", "minimum": 1, "maximum": 32}},
      "d": {"name": "d", "in": "path", "required": true, "schema": {"type": "integer", "minimum": 1, "maximum": 32}},
      "id": {"name": "id", "in": "path", "required": true, "schema": {"type": "integer"}},
      "key": {"name": "Idempotency-Key", "in": "header", "required": false,
        "description": "1..64 visible ASCII characters; a repeat with the same key, token, route and body gets the first answer (kept 24 h) and acts no second time; another body is 422",
        "schema": {"type": "string", "minLength": 1, "maxLength": 64, "pattern": "^[!-~]+$"}}
    },
    "schemas": {
      "Limit": {"type": "object", "additionalProperties": false,
        "properties": {"volume": {"type": "number"}, "amount": {"type": "number"}}},
      "Dispenser": {"type": "object", "properties": {
        "channel": {"type": "integer"}, "dispenser": {"type": "integer"},
        "state": {"type": "string", "enum": ["idle", "calling", "authorized", "filling", "stopped", "finished", "no prices", "no reply", "unknown"]},
        "code": {"type": "integer", "minimum": 0, "maximum": 255},
        "nozzle": {"type": "integer", "nullable": true, "description": "null when no nozzle is lifted"},
        "volume": {"type": "number"}, "amount": {"type": "number"},
        "grade": {"type": "integer", "nullable": true}, "price": {"type": "number", "nullable": true},
        "limit": {"$ref": "#/components/schemas/Limit"},
        "fill_id": {"type": "integer", "nullable": true},
        "requested_grade": {"type": "integer", "nullable": true},
        "unpaid": {"type": "integer", "description": "completed unpaid fills of this dispenser"},
        "link": {"type": "string", "enum": ["ok", "no reply", "bad reply", "line down"]},
        "updated_at": {"type": "string", "format": "date-time"}}},
      "Fill": {"type": "object", "properties": {
        "id": {"type": "integer"}, "channel": {"type": "integer"}, "dispenser": {"type": "integer"},
        "nozzle": {"type": "integer", "nullable": true}, "grade": {"type": "integer", "nullable": true},
        "price": {"type": "number", "nullable": true}, "volume": {"type": "number"}, "amount": {"type": "number"},
        "limit": {"$ref": "#/components/schemas/Limit"},
        "authorized_by": {"type": "string", "nullable": true},
        "authorized_at": {"type": "string", "format": "date-time", "nullable": true},
        "finished_at": {"type": "string", "format": "date-time", "nullable": true},
        "recovered": {"type": "boolean"},
        "status": {"type": "string", "enum": ["authorized", "filling", "completed", "cancelled"]},
        "requested_grade": {"type": "integer", "nullable": true},
        "mismatch": {"type": "boolean"},
        "settled_from": {"type": "string", "enum": ["readout", "totals", "last seen"]},
        "refund": {"type": "number", "nullable": true},
        "paid": {"type": "boolean"}, "paid_by": {"type": "string", "nullable": true},
        "paid_at": {"type": "string", "format": "date-time", "nullable": true},
        "reference": {"type": "string", "nullable": true, "maxLength": 64},
        "locked_by": {"type": "string", "nullable": true, "description": "the till holding the fill; null when free or the lock lapsed"},
        "locked_until": {"type": "string", "format": "date-time", "nullable": true}}},
      "Figures": {"type": "object", "nullable": true, "properties": {"volume": {"type": "number"}, "amount": {"type": "number"}}},
      "Sales": {"type": "object", "properties": {"count": {"type": "integer"}, "volume": {"type": "number"}, "amount": {"type": "number"}}},
      "ShiftReport": {"type": "object", "properties": {
        "id": {"type": "integer"}, "opened_at": {"type": "string", "format": "date-time"},
        "closed_at": {"type": "string", "format": "date-time"}, "closed_by": {"type": "string"},
        "currency": {"type": "string", "nullable": true},
        "fills": {"$ref": "#/components/schemas/Sales"},
        "by_grade": {"type": "array", "items": {"allOf": [{"$ref": "#/components/schemas/Sales"}, {"type": "object", "properties": {
          "grade": {"type": "integer", "nullable": true}, "name": {"type": "string", "nullable": true}}}]}},
        "by_dispenser": {"type": "array", "items": {"allOf": [{"$ref": "#/components/schemas/Sales"}, {"type": "object", "properties": {
          "channel": {"type": "integer"}, "dispenser": {"type": "integer"}}}]}},
        "unpaid": {"type": "object", "description": "every completed unpaid fill of the station at the close",
          "properties": {"count": {"type": "integer"}, "amount": {"type": "number"}}},
        "cancelled": {"type": "integer"},
        "nozzles": {"type": "array", "items": {"type": "object", "properties": {
          "channel": {"type": "integer"}, "dispenser": {"type": "integer"}, "nozzle": {"type": "integer"}, "grade": {"type": "integer"},
          "totals_open": {"$ref": "#/components/schemas/Figures"}, "totals_close": {"$ref": "#/components/schemas/Figures"},
          "journal": {"$ref": "#/components/schemas/Figures"},
          "difference": {"allOf": [{"$ref": "#/components/schemas/Figures"}], "description": "(close - open) - journal; null when a reading is missing"}}}},
        "unanswered": {"type": "array", "items": {"type": "object", "properties": {
          "channel": {"type": "integer"}, "dispenser": {"type": "integer"}, "nozzle": {"type": "integer"}}}}}},
      "Health": {"type": "object", "required": ["status", "lines", "dispensers"], "properties": {
        "status": {"type": "string", "enum": ["ok", "degraded"]},
        "lines": {"type": "array", "items": {"type": "object", "properties": {
          "channel": {"type": "integer"}, "port": {"type": "string"}, "up": {"type": "boolean"},
          "queued": {"type": "integer", "description": "commands waiting for the line"}}}},
        "dispensers": {"type": "array", "items": {"type": "object", "properties": {
          "channel": {"type": "integer"}, "dispenser": {"type": "integer"},
          "link": {"type": "string", "enum": ["ok", "no reply", "bad reply", "line down"]}}}},
        "database": {"type": "string", "description": "why the journal cannot be written; only while it cannot"}}},
      "Price": {"type": "object", "additionalProperties": false,
        "required": ["channel", "dispenser", "grade", "price"], "properties": {
        "channel": {"type": "integer", "minimum": 1, "maximum": 32},
        "dispenser": {"type": "integer", "minimum": 1, "maximum": 32},
        "grade": {"type": "integer", "minimum": 1, "maximum": 8},
        "price": {"type": "number", "minimum": 0.01, "maximum": 99.99, "multipleOf": 0.01}}},
      "Results": {"type": "object", "properties": {"dispensers": {"type": "array", "items": {
        "type": "object", "properties": {"channel": {"type": "integer"}, "dispenser": {"type": "integer"},
        "result": {"type": "string", "description": "downloaded, deferred, stopped, or the failure"}}}}}},
      "Problem": {"type": "object", "properties": {
        "type": {"type": "string"}, "title": {"type": "string"}, "status": {"type": "integer"}, "detail": {"type": "string"}}}
    },
    "responses": {
      "Problem": {"description": "400 bad input or query parameter, 401 no or wrong token, 403 role too low, 404 unknown route, dispenser, fill or shift, 408 a body slower than 30 s, 409 refused by the dispenser's state, the unpaid stack or a settlement rule, 413 body over 64 KiB, 422 an Idempotency-Key reused with another body, 502 not acknowledged, 503 line down, too many streams or the journal's database unavailable",
        "content": {"application/problem+json": {"schema": {"$ref": "#/components/schemas/Problem"}}}}
    }
  },
  "paths": {
    "/health": {"get": {"operationId": "health", "security": [], "summary": "Service and line health; 503 while degraded, so that a monitor needs no body",
      "responses": {"200": {"description": "ok", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Health"}}}},
        "503": {"description": "degraded: a line down, a dispenser not answering, or the journal's database unavailable",
          "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Health"}}}},
        "4XX": {"$ref": "#/components/responses/Problem"}}}},
    "/openapi.json": {"get": {"operationId": "openApiDocument", "summary": "This document (view)", "responses": {
      "200": {"description": "OpenAPI", "content": {"application/json": {"schema": {"type": "object"}}}},
      "4XX": {"$ref": "#/components/responses/Problem"}}}},
    "/dispensers": {"get": {"operationId": "listDispensers", "summary": "Every dispenser (view)", "responses": {
      "200": {"description": "list", "content": {"application/json": {"schema": {"type": "array", "items": {"$ref": "#/components/schemas/Dispenser"}}}}},
      "4XX": {"$ref": "#/components/responses/Problem"}, "5XX": {"$ref": "#/components/responses/Problem"}}}},
    "/dispensers/{c}/{d}": {"parameters": [{"$ref": "#/components/parameters/c"}, {"$ref": "#/components/parameters/d"}],
      "get": {"operationId": "getDispenser", "summary": "One dispenser (view)", "responses": {
        "200": {"description": "dispenser", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Dispenser"}}}},
        "4XX": {"$ref": "#/components/responses/Problem"}, "5XX": {"$ref": "#/components/responses/Problem"}}}},
    "/dispensers/{c}/{d}/authorize": {"parameters": [{"$ref": "#/components/parameters/c"}, {"$ref": "#/components/parameters/d"}, {"$ref": "#/components/parameters/key"}],
      "post": {"operationId": "authorize", "summary": "Authorize, plain or with one limit (operate)",
        "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "additionalProperties": false,
          "required": ["grade"], "properties": {"grade": {"type": "integer", "minimum": 1, "maximum": 8},
          "volume": {"type": "number", "minimum": 0.01, "maximum": 9999.99}, "amount": {"type": "number", "minimum": 0.01, "maximum": 9999.99}}}}}},
        "responses": {"200": {"description": "acknowledged", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Dispenser"}}}},
          "4XX": {"$ref": "#/components/responses/Problem"}, "5XX": {"$ref": "#/components/responses/Problem"}}}},
    "/dispensers/{c}/{d}/stop": {"parameters": [{"$ref": "#/components/parameters/c"}, {"$ref": "#/components/parameters/d"}, {"$ref": "#/components/parameters/key"}],
      "post": {"operationId": "stopDispenser", "summary": "Stop the dispenser (operate)", "responses": {
        "200": {"description": "acknowledged", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Dispenser"}}}},
        "4XX": {"$ref": "#/components/responses/Problem"}, "5XX": {"$ref": "#/components/responses/Problem"}}}},
    "/stop": {"parameters": [{"$ref": "#/components/parameters/key"}], "post": {"operationId": "stopAll", "summary": "Emergency stop of every dispenser (operate)", "responses": {
      "200": {"description": "per dispenser", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Results"}}}},
      "4XX": {"$ref": "#/components/responses/Problem"}, "5XX": {"$ref": "#/components/responses/Problem"}}}},
    "/prices": {
      "get": {"operationId": "getPrices", "summary": "The price book (view)", "responses": {
        "200": {"description": "book", "content": {"application/json": {"schema": {"type": "array", "items": {"$ref": "#/components/schemas/Price"}}}}},
        "4XX": {"$ref": "#/components/responses/Problem"}, "5XX": {"$ref": "#/components/responses/Problem"}}},
      "put": {"operationId": "putPrices", "summary": "Store prices, then download the changed tables (admin)",
        "parameters": [{"$ref": "#/components/parameters/key"}],
        "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "array", "items": {"$ref": "#/components/schemas/Price"}}}}},
        "responses": {"200": {"description": "per changed dispenser", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Results"}}}},
          "4XX": {"$ref": "#/components/responses/Problem"}, "5XX": {"$ref": "#/components/responses/Problem"}}}},
    "/fills": {"get": {"operationId": "listFills", "summary": "Fills, oldest first (view); an unknown or malformed parameter is 400", "parameters": [
        {"name": "after", "in": "query", "schema": {"type": "integer", "minimum": 0, "default": 0}},
        {"name": "limit", "in": "query", "schema": {"type": "integer", "minimum": 1, "maximum": 1000, "default": 100}},
        {"name": "channel", "in": "query", "schema": {"type": "integer", "minimum": 1, "maximum": 32}},
        {"name": "dispenser", "in": "query", "schema": {"type": "integer", "minimum": 1, "maximum": 32}},
        {"name": "grade", "in": "query", "schema": {"type": "integer", "minimum": 1, "maximum": 8}},
        {"name": "status", "in": "query", "schema": {"type": "string", "enum": ["completed", "cancelled", "open", "all"], "default": "completed"}},
        {"name": "paid", "in": "query", "schema": {"type": "boolean"}},
        {"name": "from", "in": "query", "description": "inclusive, on finished_at, else authorized_at", "schema": {"type": "string", "format": "date-time"}},
        {"name": "to", "in": "query", "description": "exclusive", "schema": {"type": "string", "format": "date-time"}}],
      "responses": {"200": {"description": "fills", "content": {"application/json": {"schema": {"type": "array", "items": {"$ref": "#/components/schemas/Fill"}}}}},
        "4XX": {"$ref": "#/components/responses/Problem"}, "5XX": {"$ref": "#/components/responses/Problem"}}}},
    "/fills/{id}": {"get": {"operationId": "getFill", "summary": "One fill (view)", "parameters": [{"$ref": "#/components/parameters/id"}],
      "responses": {"200": {"description": "fill", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Fill"}}}},
        "4XX": {"$ref": "#/components/responses/Problem"}, "5XX": {"$ref": "#/components/responses/Problem"}}}},
    "/dispensers/{c}/{d}/totals/{n}": {"parameters": [{"$ref": "#/components/parameters/c"}, {"$ref": "#/components/parameters/d"},
        {"name": "n", "in": "path", "required": true, "schema": {"type": "integer", "minimum": 1, "maximum": 8}}],
      "get": {"operationId": "getTotals", "summary": "The nozzle's totals, read now (view)", "responses": {
        "200": {"description": "totals", "content": {"application/json": {"schema": {"type": "object", "properties": {
          "volume_total": {"type": "number"}, "amount_total": {"type": "number"}}}}}},
        "4XX": {"$ref": "#/components/responses/Problem"}, "5XX": {"$ref": "#/components/responses/Problem"}}}},
    "/fills/{id}/lock": {"parameters": [{"$ref": "#/components/parameters/id"}, {"$ref": "#/components/parameters/key"}],
      "post": {"operationId": "lockFill", "summary": "The caller's till takes the completed unpaid fill for 120 s; a repeat renews (operate)", "responses": {
        "200": {"description": "the fill", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Fill"}}}},
        "4XX": {"$ref": "#/components/responses/Problem"}, "5XX": {"$ref": "#/components/responses/Problem"}}}},
    "/fills/{id}/unlock": {"parameters": [{"$ref": "#/components/parameters/id"}, {"$ref": "#/components/parameters/key"}],
      "post": {"operationId": "unlockFill", "summary": "Releases the caller's lock; an admin releases anyone's; a fill not locked stays as it is (operate)", "responses": {
        "200": {"description": "the fill", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Fill"}}}},
        "4XX": {"$ref": "#/components/responses/Problem"}, "5XX": {"$ref": "#/components/responses/Problem"}}}},
    "/fills/{id}/clear": {"parameters": [{"$ref": "#/components/parameters/id"}, {"$ref": "#/components/parameters/key"}],
      "post": {"operationId": "clearFill", "summary": "Marks the fill paid; 409 while another token holds the lock or when paid with another reference (operate)",
        "requestBody": {"required": false, "content": {"application/json": {"schema": {"type": "object", "additionalProperties": false,
          "properties": {"reference": {"type": "string", "minLength": 1, "maxLength": 64}}}}}},
        "responses": {"200": {"description": "the fill", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Fill"}}}},
          "4XX": {"$ref": "#/components/responses/Problem"}, "5XX": {"$ref": "#/components/responses/Problem"}}}},
    "/shifts/close": {"parameters": [{"$ref": "#/components/parameters/key"}],
      "post": {"operationId": "closeShift", "summary": "Reads every configured nozzle's totals, closes the open shift and opens the next (operate)", "responses": {
        "200": {"description": "the closed shift's report", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/ShiftReport"}}}},
        "4XX": {"$ref": "#/components/responses/Problem"}, "5XX": {"$ref": "#/components/responses/Problem"}}}},
    "/shifts": {"get": {"operationId": "listShifts", "summary": "Closed shifts' reports, oldest first (view)", "parameters": [
        {"name": "after", "in": "query", "schema": {"type": "integer", "minimum": 0, "default": 0}},
        {"name": "limit", "in": "query", "schema": {"type": "integer", "minimum": 1, "maximum": 1000, "default": 100}}],
      "responses": {"200": {"description": "reports", "content": {"application/json": {"schema": {"type": "array", "items": {"$ref": "#/components/schemas/ShiftReport"}}}}},
        "4XX": {"$ref": "#/components/responses/Problem"}, "5XX": {"$ref": "#/components/responses/Problem"}}}},
    "/shifts/{id}": {"parameters": [{"$ref": "#/components/parameters/id"}],
      "get": {"operationId": "getShift", "summary": "One closed shift's report; Accept: text/csv gives one row per nozzle (view)", "responses": {
        "200": {"description": "report", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/ShiftReport"}},
          "text/csv": {"schema": {"type": "string"}}}},
        "4XX": {"$ref": "#/components/responses/Problem"}, "5XX": {"$ref": "#/components/responses/Problem"}}}},
    "/session": {"get": {"operationId": "getSession", "summary": "The caller's token, and the station's currency, zone and grade names (view)", "responses": {
      "200": {"description": "name, role, currency, timezone, grades", "content": {"application/json": {"schema": {"type": "object", "properties": {
        "name": {"type": "string"}, "role": {"type": "string", "enum": ["view", "operate", "admin"]},
        "currency": {"type": "string", "nullable": true}, "timezone": {"type": "string"},
        "grades": {"type": "array", "items": {"type": "object", "properties": {
          "number": {"type": "integer"}, "name": {"type": "string"}}}}}}}}},
      "4XX": {"$ref": "#/components/responses/Problem"}, "5XX": {"$ref": "#/components/responses/Problem"}}}},
    "/events": {"get": {"operationId": "streamEvents", "summary": "Server-Sent Events (view): dispenser, fill (completed, and every lock, unlock and clear), prices, line, alarm (data: kind, channel, dispenser, fill_id, detail), shift (data: ShiftReport); Last-Event-ID resumes fills, prices and shifts",
      "parameters": [{"name": "Last-Event-ID", "in": "header", "schema": {"type": "integer"}}],
      "responses": {"200": {"description": "event stream", "content": {"text/event-stream": {"schema": {"type": "string"}}}},
        "4XX": {"$ref": "#/components/responses/Problem"}, "5XX": {"$ref": "#/components/responses/Problem"}}}}
  }
})json";

}  // namespace

std::string_view OpenApiDocument() {
  return kDocument;
}

}  // namespace quorlan::station
