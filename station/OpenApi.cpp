// The OpenAPI document of the station's API, served at /api/v1/openapi.json.
// Kept beside the routes in Api.cpp; a test checks that both list the same.

#include "station/Api.h"

namespace quorlan::station {

namespace {

constexpr std::string_view kDocument = R"json({
  "openapi": "3.0.3",
  "info": {"title": "Quorlan station service", "version": "1"},
  "servers": [{"url": "/api/v1"}],
  "security": [{"bearer": []}],
  "components": {
    "securitySchemes": {"bearer": {"type": "http", "scheme": "bearer"}},
    "parameters": {
      "c": {"name": "c", "in": "path", "required": true, "schema": {"type": "integer", "minimum": 1, "maximum": 32}},
      "d": {"name": "d", "in": "path", "required": true, "schema": {"type": "integer", "minimum": 1, "maximum": 32}}
    },
    "schemas": {
      "Limit": {"type": "object", "additionalProperties": false,
        "properties": {"volume": {"type": "number"}, "amount": {"type": "number"}}},
      "Dispenser": {"type": "object", "properties": {
        "channel": {"type": "integer"}, "dispenser": {"type": "integer"},
        "state": {"type": "string", "enum": ["idle", "authorized", "filling", "stopped", "finished", "no prices", "no reply", "unknown"]},
        "code": {"type": "integer", "minimum": 0, "maximum": 255},
        "nozzle": {"type": "integer"}, "volume": {"type": "number"}, "amount": {"type": "number"},
        "grade": {"type": "integer", "nullable": true}, "price": {"type": "number", "nullable": true},
        "limit": {"$ref": "#/components/schemas/Limit"},
        "fill_id": {"type": "integer", "nullable": true},
        "link": {"type": "string", "enum": ["ok", "no reply", "bad reply", "line down"]},
        "updated_at": {"type": "string", "format": "date-time"}}},
      "Fill": {"type": "object", "properties": {
        "id": {"type": "integer"}, "channel": {"type": "integer"}, "dispenser": {"type": "integer"},
        "nozzle": {"type": "integer"}, "grade": {"type": "integer", "nullable": true},
        "price": {"type": "number", "nullable": true}, "volume": {"type": "number"}, "amount": {"type": "number"},
        "limit": {"$ref": "#/components/schemas/Limit"},
        "authorized_by": {"type": "string", "nullable": true},
        "authorized_at": {"type": "string", "format": "date-time", "nullable": true},
        "finished_at": {"type": "string", "format": "date-time", "nullable": true},
        "recovered": {"type": "boolean"}}},
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
      "Problem": {"description": "400 bad input, 401 no or wrong token, 403 role too low, 404 unknown route, dispenser or fill, 408 a body slower than 30 s, 409 refused by the dispenser's state, 413 body over 64 KiB, 502 not acknowledged, 503 line down, too many streams or the journal's database unavailable",
        "content": {"application/problem+json": {"schema": {"$ref": "#/components/schemas/Problem"}}}}
    }
  },
  "paths": {
    "/health": {"get": {"security": [], "summary": "Service and line health",
      "responses": {"200": {"description": "ok or degraded, per line channel, port, up"}}}},
    "/openapi.json": {"get": {"summary": "This document (view)", "responses": {"200": {"description": "OpenAPI"}}}},
    "/dispensers": {"get": {"summary": "Every dispenser (view)", "responses": {
      "200": {"description": "list", "content": {"application/json": {"schema": {"type": "array", "items": {"$ref": "#/components/schemas/Dispenser"}}}}},
      "default": {"$ref": "#/components/responses/Problem"}}}},
    "/dispensers/{c}/{d}": {"parameters": [{"$ref": "#/components/parameters/c"}, {"$ref": "#/components/parameters/d"}],
      "get": {"summary": "One dispenser (view)", "responses": {
        "200": {"description": "dispenser", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Dispenser"}}}},
        "default": {"$ref": "#/components/responses/Problem"}}}},
    "/dispensers/{c}/{d}/authorize": {"parameters": [{"$ref": "#/components/parameters/c"}, {"$ref": "#/components/parameters/d"}],
      "post": {"summary": "Authorize, plain or with one limit (operate)",
        "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "additionalProperties": false,
          "required": ["grade"], "properties": {"grade": {"type": "integer", "minimum": 1, "maximum": 8},
          "volume": {"type": "number", "minimum": 0.01, "maximum": 9999.99}, "amount": {"type": "number", "minimum": 0.01, "maximum": 9999.99}}}}}},
        "responses": {"200": {"description": "acknowledged", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Dispenser"}}}},
          "default": {"$ref": "#/components/responses/Problem"}}}},
    "/dispensers/{c}/{d}/stop": {"parameters": [{"$ref": "#/components/parameters/c"}, {"$ref": "#/components/parameters/d"}],
      "post": {"summary": "Stop the dispenser (operate)", "responses": {
        "200": {"description": "acknowledged", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Dispenser"}}}},
        "default": {"$ref": "#/components/responses/Problem"}}}},
    "/stop": {"post": {"summary": "Emergency stop of every dispenser (operate)", "responses": {
      "200": {"description": "per dispenser", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Results"}}}},
      "default": {"$ref": "#/components/responses/Problem"}}}},
    "/prices": {
      "get": {"summary": "The price book (view)", "responses": {
        "200": {"description": "book", "content": {"application/json": {"schema": {"type": "array", "items": {"$ref": "#/components/schemas/Price"}}}}},
        "default": {"$ref": "#/components/responses/Problem"}}},
      "put": {"summary": "Store prices, then download the changed tables (admin)",
        "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "array", "items": {"$ref": "#/components/schemas/Price"}}}}},
        "responses": {"200": {"description": "per changed dispenser", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Results"}}}},
          "default": {"$ref": "#/components/responses/Problem"}}}},
    "/fills": {"get": {"summary": "Completed fills, oldest first (view)", "parameters": [
        {"name": "after", "in": "query", "schema": {"type": "integer", "minimum": 0, "default": 0}},
        {"name": "limit", "in": "query", "schema": {"type": "integer", "minimum": 1, "maximum": 1000, "default": 100}}],
      "responses": {"200": {"description": "fills", "content": {"application/json": {"schema": {"type": "array", "items": {"$ref": "#/components/schemas/Fill"}}}}},
        "default": {"$ref": "#/components/responses/Problem"}}}},
    "/fills/{id}": {"get": {"summary": "One fill (view)", "parameters": [{"name": "id", "in": "path", "required": true, "schema": {"type": "integer"}}],
      "responses": {"200": {"description": "fill", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Fill"}}}},
        "default": {"$ref": "#/components/responses/Problem"}}}},
    "/dispensers/{c}/{d}/totals/{n}": {"parameters": [{"$ref": "#/components/parameters/c"}, {"$ref": "#/components/parameters/d"},
        {"name": "n", "in": "path", "required": true, "schema": {"type": "integer", "minimum": 1, "maximum": 8}}],
      "get": {"summary": "The nozzle's totals, read now (view)", "responses": {
        "200": {"description": "totals", "content": {"application/json": {"schema": {"type": "object", "properties": {
          "volume_total": {"type": "number"}, "amount_total": {"type": "number"}}}}}},
        "default": {"$ref": "#/components/responses/Problem"}}}},
    "/events": {"get": {"summary": "Server-Sent Events: dispenser, fill, prices, line (view); Last-Event-ID resumes fills and prices",
      "parameters": [{"name": "Last-Event-ID", "in": "header", "schema": {"type": "integer"}}],
      "responses": {"200": {"description": "event stream", "content": {"text/event-stream": {"schema": {"type": "string"}}}},
        "default": {"$ref": "#/components/responses/Problem"}}}}
  }
})json";

}  // namespace

std::string_view OpenApiDocument() {
  return kDocument;
}

}  // namespace quorlan::station
